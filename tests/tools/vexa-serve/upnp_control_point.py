#!/usr/bin/python3
"""A UPnP control point made with GUPnP: finds the MediaServer with the given UDN on the
loopback interface, browses its whole tree a few children per request, and prints what it
found, one line per object, resource and caption (fields separated by tabs):

  container ID PARENT TITLE CHILDCOUNT
  item ID PARENT TITLE CLASS
  res ID PROTOCOLINFO DURATION SIZE URL
  caption ID URL

usage: upnp_control_point.py UDN USER_AGENT [SECONDS]

With --watch it only follows the server's comings and goings, a line each ("available UDN",
"gone UDN", after "watching" once it listens), until it has seen EVENTS of them:

usage: upnp_control_point.py --watch UDN SECONDS EVENTS

Exit codes: 0 done, 2 the server was not found in time (or fewer events were seen), 3 a Browse
answer was inconsistent.
"""
import sys
import xml.etree.ElementTree as ElementTree

import gi
gi.require_version('GUPnP', '1.6')
gi.require_version('GSSDP', '1.6')
from gi.repository import GLib, GObject, GSSDP, GUPnP

MEDIA_SERVER = 'urn:schemas-upnp-org:device:MediaServer:1'
CONTENT_DIRECTORY = 'urn:schemas-upnp-org:service:ContentDirectory:1'
PAGE = 2  # children per Browse, so that paging is exercised
NS = {'d': 'urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/',
      'dc': 'http://purl.org/dc/elements/1.1/',
      'upnp': 'urn:schemas-upnp-org:metadata-1-0/upnp/',
      'sec': 'http://www.sec.co.kr/'}


def find_server(udn, user_agent, seconds):
    context = GUPnP.Context.new_full('lo', None, 0, GSSDP.UDAVersion.VERSION_1_0)
    context.get_session().set_user_agent(user_agent)
    control_point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    loop = GLib.MainLoop()
    found = []

    def on_available(_control_point, proxy):
        if proxy.get_udn() == udn and not found:
            found.append(proxy)
            loop.quit()

    control_point.connect('device-proxy-available', on_available)
    control_point.set_active(True)
    GLib.timeout_add_seconds(seconds, loop.quit)
    loop.run()
    return (found[0] if found else None), context, control_point


def watch(udn, seconds, events):
    context = GUPnP.Context.new_full('lo', None, 0, GSSDP.UDAVersion.VERSION_1_0)
    control_point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    loop = GLib.MainLoop()
    seen = []

    def on_event(what, proxy):
        if proxy.get_udn() == udn and loop.is_running():  # not as the proxies go at exit
            print(what, udn, flush=True)
            seen.append(what)
            if len(seen) == events:
                loop.quit()

    control_point.connect('device-proxy-available', lambda _c, proxy: on_event('available', proxy))
    control_point.connect('device-proxy-unavailable', lambda _c, proxy: on_event('gone', proxy))
    control_point.set_active(True)
    print('watching', flush=True)
    GLib.timeout_add_seconds(seconds, loop.quit)
    loop.run()
    return 0 if len(seen) == events else 2


def value(gtype, content):
    holder = GObject.Value(gtype)
    holder.set_value(content)
    return holder


def browse(service, object_id, flag, start, count):
    names = ['ObjectID', 'BrowseFlag', 'Filter', 'StartingIndex', 'RequestedCount',
             'SortCriteria']
    values = [value(str, object_id), value(str, flag), value(str, '*'),
              value(GObject.TYPE_UINT, start), value(GObject.TYPE_UINT, count), value(str, '')]
    action = GUPnP.ServiceProxyAction.new_from_list('Browse', names, values)
    service.call_action(action, None)
    ok, results = action.get_result_list(
        ['Result', 'NumberReturned', 'TotalMatches', 'UpdateID'],
        [GObject.TYPE_STRING, GObject.TYPE_UINT, GObject.TYPE_UINT, GObject.TYPE_UINT])
    if not ok:
        raise RuntimeError('Browse gave no results')
    didl, returned, total, _update = results
    objects = list(ElementTree.fromstring(didl))
    if len(objects) != returned:
        raise RuntimeError('NumberReturned %d but %d objects' % (returned, len(objects)))
    return objects, total


def print_object(element):
    fields = lambda *parts: print('\t'.join(str(p) for p in parts))
    object_id = element.get('id')
    title = element.findtext('dc:title', '', NS)
    if element.tag.endswith('container'):
        fields('container', object_id, element.get('parentID'), title, element.get('childCount'))
        return True
    fields('item', object_id, element.get('parentID'), title, element.findtext('upnp:class', '', NS))
    for res in element.findall('d:res', NS):
        fields('res', object_id, res.get('protocolInfo'), res.get('duration', ''),
               res.get('size', ''), res.text)
    for caption in element.findall('sec:CaptionInfoEx', NS):
        fields('caption', object_id, caption.text)
    return False


def walk(service, container_id):
    start, total = 0, None
    while total is None or start < total:
        objects, matches = browse(service, container_id, 'BrowseDirectChildren', start, PAGE)
        if total is not None and matches != total:
            raise RuntimeError('TotalMatches changed from %d to %d' % (total, matches))
        total = matches
        if not objects and start < total:
            raise RuntimeError('an empty page before the end')
        for element in objects:
            if print_object(element):
                walk(service, element.get('id'))
        start += len(objects)


def main():
    if sys.argv[1] == '--watch':
        return watch(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    udn, user_agent = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    device, _context, _control_point = find_server(udn, user_agent, seconds)
    if device is None:
        print('no MediaServer %s on lo within %d s' % (udn, seconds), file=sys.stderr)
        return 2
    print('server\t' + device.get_friendly_name())
    service = device.get_service(CONTENT_DIRECTORY)
    try:
        root, _total = browse(service, '0', 'BrowseMetadata', 0, 0)
        print_object(root[0])
        walk(service, '0')
    except (RuntimeError, GLib.Error) as failure:
        print('browsing failed: %s' % failure, file=sys.stderr)
        return 3
    return 0


if __name__ == '__main__':
    sys.exit(main())
