#!/usr/bin/python3
"""Opens vexa-serve's page in a headless Chromium, plays its first item, seeks ten seconds on,
and prints what the browser saw as KEY=VALUE lines. The browser is driven through the DevTools
protocol over a pipe (--remote-debugging-pipe: commands into its fd 3, answers from its fd 4,
each message ending in NUL). Every wait is bounded.

Usage: page_player.py PAGE_URL SCREENSHOT_PNG PROFILE_DIR
"""
import base64
import json
import os
import select
import subprocess
import sys
import time


KEPT_EVENTS = ('Network.requestWillBeSent', 'Network.responseReceived')


class Browser:
    def __init__(self, profile):
        commands_read, self.commands = os.pipe()
        self.answers, answers_write = os.pipe()
        flags = ('--headless=new --no-sandbox --disable-gpu --no-first-run --mute-audio '
                 '--autoplay-policy=no-user-gesture-required --remote-debugging-pipe '
                 '--window-size=900,900 --user-data-dir=' + profile)
        self.process = subprocess.Popen(
            ['/bin/sh', '-c', f'exec chromium {flags} about:blank 3<&{commands_read} 4>&{answers_write}'],
            pass_fds=(commands_read, answers_write), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(commands_read)
        os.close(answers_write)
        self.pending = b''
        self.next_id = 0
        self.session = None
        self.events = []

    def call(self, method, params=None, timeout=30):
        self.next_id += 1
        message = {'id': self.next_id, 'method': method, 'params': params or {}}
        if self.session and not method.startswith('Target.'):
            message['sessionId'] = self.session
        os.write(self.commands, json.dumps(message).encode() + b'\0')
        deadline = time.monotonic() + timeout
        while True:
            while b'\0' not in self.pending:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([self.answers], [], [], left)[0]:
                    raise RuntimeError(f'{method}: no answer')
                chunk = os.read(self.answers, 1 << 20)
                if not chunk:
                    raise RuntimeError('the browser went away')
                self.pending += chunk
            text, self.pending = self.pending.split(b'\0', 1)
            answer = json.loads(text)
            if answer.get('method') in KEPT_EVENTS:
                self.events.append(answer)
            elif answer.get('id') == self.next_id:
                if 'error' in answer:
                    raise RuntimeError(f'{method}: {answer["error"]}')
                return answer['result']

    def open(self, url):
        target = self.call('Target.createTarget', {'url': 'about:blank'})['targetId']
        self.session = self.call('Target.attachToTarget',
                                 {'targetId': target, 'flatten': True})['sessionId']
        self.call('Network.enable')
        self.call('Page.navigate', {'url': url})

    def evaluate(self, expression):
        result = self.call('Runtime.evaluate', {'expression': expression, 'returnByValue': True})
        return result['result'].get('value')

    def wait_for(self, expression, seconds):
        """Polls expression until it holds; its last value either way."""
        deadline = time.monotonic() + seconds
        while True:
            value = self.evaluate(expression)
            if value or time.monotonic() > deadline:
                return value
            time.sleep(0.2)

    def close(self):
        try:
            self.call('Browser.close', timeout=5)
        except (RuntimeError, OSError):
            pass
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


STATE = '''(function () {
  var v = document.getElementById('video'), b = v.buffered;
  return {time: v.currentTime, buffered: b.length ? b.end(b.length - 1) : 0,
          frames: v.getVideoPlaybackQuality().totalVideoFrames, source: v.src,
          state: document.getElementById('state').textContent,
          position: Number(document.getElementById('seek').value)};
})()'''
VIDEO_STATE = 'JSON.stringify(' + STATE + ')'

FAILED = "s.state.startsWith('playback failed')"

PAGE_FACTS = '''JSON.stringify({
  player_loaded: typeof mpegts === 'object' && mpegts.isSupported(),
  player_script: document.querySelector('script[src]').src,
  foreign_requests: performance.getEntriesByType('resource')
      .filter(function (e) { return !e.name.startsWith(location.origin + '/'); }).length,
  titles: Array.from(document.querySelectorAll('.item .title')).map(function (e) { return e.textContent; }),
  images: document.querySelectorAll('img, iframe').length,
  scripts: document.scripts.length,
  play_buttons: document.querySelectorAll('button.play').length})'''


def npt_seconds(value):
    """The start of a TimeSeekRange.dlna.org value ("npt=12-", "npt=0:00:12.000-...") in seconds."""
    start = value.split('=', 1)[-1].split('-')[0]
    return sum(float(part) * 60 ** i for i, part in enumerate(reversed(start.split(':'))))


def time_seeks(events):
    """The time-seek headers of the stream requests seen, and of their answers."""
    sent, answered = [], []
    for event in events:
        params = event.get('params', {})
        if event['method'] == 'Network.requestWillBeSent':
            message, into = params['request'], sent
        elif event['method'] == 'Network.responseReceived':
            message, into = params['response'], answered
        else:
            continue
        for name, value in message.get('headers', {}).items():
            if '/stream/' in message['url'] and name.lower() == 'timeseekrange.dlna.org':
                into.append(npt_seconds(value))
    return sent, answered


def report(key, value):
    print(f'{key}={json.dumps(value) if not isinstance(value, str) else value}', flush=True)


def main():
    page_url, screenshot, profile = sys.argv[1:4]
    browser = Browser(profile)
    try:
        browser.open(page_url)
        browser.wait_for("document.readyState === 'complete'", 30)
        for key, value in json.loads(browser.evaluate(PAGE_FACTS)).items():
            report(key, value)
        browser.evaluate("document.querySelector('button.play').click()")
        browser.wait_for(f"(function(){{var s={STATE};return s.time>1.5||{FAILED}}})()", 60)
        state = json.loads(browser.evaluate(VIDEO_STATE))
        for key, value in state.items():
            report(key, value)
        box = json.loads(browser.evaluate(
            "(function(){var r=document.getElementById('video').getBoundingClientRect();"
            "return JSON.stringify({x:r.left+scrollX,y:r.top+scrollY,width:r.width,height:r.height})})()"))
        box['scale'] = 1  # page coordinates, wherever the page is scrolled
        shot = browser.call('Page.captureScreenshot',
                            {'format': 'png', 'clip': box, 'captureBeyondViewport': True})
        os.makedirs(os.path.dirname(screenshot), exist_ok=True)
        with open(screenshot, 'wb') as out:
            out.write(base64.b64decode(shot['data']))
        if state['time'] > 1.5:
            browser.evaluate("document.getElementById('forward').click()")
            browser.wait_for(f"(function(){{var s={STATE};return s.position>=12.5||{FAILED}}})()", 60)
            state = json.loads(browser.evaluate(VIDEO_STATE))
            report('seek_position', state['position'])
            report('seek_state', state['state'])
            sent, answered = time_seeks(browser.events)
            report('seek_sent', sent[0] if len(sent) == 1 else sent)
            report('seek_answered', answered[0] if len(answered) == 1 else answered)
    finally:
        browser.close()
    return 0


if __name__ == '__main__':
    sys.exit(main())
