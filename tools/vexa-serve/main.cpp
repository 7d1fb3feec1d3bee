// vexa-serve: a DLNA media server around the plug-in. It loads libvexatranscoder.so as a
// streaming stack would, serves a folder of Matroska files to UPnP clients and browsers, and
// streams the plug-in's forms of them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <vector>

#include "platform/os/InterfaceAddress.h"
#include "tools/vexa-serve/HttpFront.h"
#include "tools/vexa-serve/ServerContext.h"
#include "tools/vexa-serve/StreamService.h"
#include "tools/vexa-serve/UpnpDevice.h"
#include "tools/vexa-serve/WebPage.h"

namespace {

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitFailed = 3 };

void Usage() {
  std::fprintf(stderr,
               "usage: vexa-serve --root DIR [--port 8200] [--name NAME] [--interface IFACE]\n"
               "                  [--plugin PATH]\n");
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "vexa-serve: %s\n", reason.c_str());
  return kExitFailed;
}

// The address the server names when it starts: the named interface's, else the first external
// one's.
bool ChooseAddress(const ServeOptions& options, std::string* address) {
  if (!options.interfaceName.empty())
    return VexaOS::InterfaceIpv4Address(options.interfaceName, address);
  return VexaOS::FirstExternalIpv4Address(address) ||
         VexaOS::InterfaceIpv4Address("lo", address);
}

// One announcer per address. Without --interface, an interface that takes no multicast is left
// out with a warning; the server fails only when it can announce nowhere.
bool StartAnnouncers(const ServerContext& context, const std::vector<std::string>& addresses,
                     std::list<SsdpAnnouncer>* announcers, std::string* error) {
  *error = "no interface with an IPv4 address is up";
  for (const std::string& address : addresses) {
    if (announcers->emplace_back().Start(context, address, error)) continue;
    announcers->pop_back();
    if (addresses.size() > 1) std::fprintf(stderr, "vexa-serve: %s\n", error->c_str());
  }
  return !announcers->empty();
}

// Blocks SIGINT and SIGTERM in every thread (they inherit the mask) so that only the main
// thread takes them, from sigwait.
void BlockStopSignals(sigset_t* signals) {
  sigemptyset(signals);
  sigaddset(signals, SIGINT);
  sigaddset(signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a client that goes away is seen as a failed write
}

}  // namespace

int main(int argc, char** argv) {
  ServerContext context;
  std::string error;
  if (!ParseServeOptions(argc, argv, &context.options, &error)) {
    std::fprintf(stderr, "vexa-serve: %s\n", error.c_str());
    Usage();
    return kExitUsage;
  }
  ServeOptions& options = context.options;
  if (options.plugin.empty()) {
    const char* fromEnvironment = std::getenv("VEXA_TRANSCODER_PLUGIN");
    options.plugin = fromEnvironment ? fromEnvironment : VEXA_DEFAULT_PLUGIN;
  }
  if (!context.library.Open(options.root, &error)) return Fail(error);
  if (!ChooseAddress(options, &context.address))
    return Fail("no IPv4 address on interface " + options.interfaceName);
  if (!LoadDeviceUuid(&context.deviceUuid, &error)) return Fail(error);
  sigset_t stopSignals;
  BlockStopSignals(&stopSignals);
  if (!context.plugin.Load(options.plugin, &error)) return Fail(error);
  HostCallback callback;
  context.plugin.Transcoder()->SetHost(&callback);

  HttpFront front;
  StreamService streams(context);
  streams.Register(front);
  RegisterUpnpRoutes(front, context);
  RegisterPageRoutes(front, context);
  std::string listenAddress = options.interfaceName.empty() ? "" : context.address;
  if (!front.Start(listenAddress, options.port, HttpLimits{}, &error)) return Fail(error);
  context.port = front.Port();

  std::vector<std::string> announced{context.address};
  if (options.interfaceName.empty() && !VexaOS::UpInterfaceIpv4Addresses(&announced))
    return Fail("cannot list the network interfaces");
  std::list<SsdpAnnouncer> announcers;  // an announcer is neither copied nor moved
  if (!StartAnnouncers(context, announced, &announcers, &error)) return Fail(error);
  std::fprintf(stderr, "vexa-serve: serving %s at %s/ as \"%s\" (%s)\n",
               context.library.Root().c_str(), context.BaseUrl().c_str(), options.name.c_str(),
               context.deviceUuid.c_str());

  int received = 0;
  sigwait(&stopSignals, &received);
  std::fprintf(stderr, "vexa-serve: stopping\n");
  for (SsdpAnnouncer& announcer : announcers) announcer.Stop();
  streams.StopAll();
  front.Stop();
  context.plugin.Transcoder()->SetHost(nullptr);
  return kExitOk;
}
