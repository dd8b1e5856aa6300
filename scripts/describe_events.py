#!/usr/bin/env python3
"""Tells in plain words what a host run's JSON event log says happened (the native program's too)."""
import json
import sys


def describe(path):
    try:
        with open(path, encoding='utf-8') as log:
            events = [json.loads(line) for line in log if line.strip()]
    except OSError as error:
        print(f'The host left no event log ({error}); see host.out beside it.')
        return 1
    frames = [e for e in events if e.get('event') == 'frame']
    # The native program has the plug-in built in: its loaded event names no DLL.
    host = 'the native program' if any(e.get('event') == 'loaded' and e.get('dll') is None for e in events) \
        else 'the host'
    failed = False
    frames_told = False
    for e in events:
        kind = e.get('event')
        if frames and not frames_told and (kind in ('quit_message', 'quit', 'end') or e.get('phase') == 'quit'):
            results = sorted({f.get('result') for f in frames})
            print(f"{len(frames)} frames rendered (Render returned {', '.join(str(r) for r in results)}).")
            frames_told = True
        if kind == 'loaded':
            print(f"Loaded the plug-in \"{e.get('description')}\" (header version {e.get('header_version'):#x}); "
                  f"module 0 found, delay {e.get('delay_ms')} ms.")
        elif kind == 'load_failed':
            print(f"The plug-in could not be loaded: {e.get('reason', e)}.")
            failed = True
        elif kind == 'host_message' and e.get('lparam') == 0:
            print(f"The plug-in asked for the player's version; {host} answered {e.get('answer'):#x}.")
        elif kind == 'host_message' and e.get('lparam') == 505:
            # Our plug-in takes a non-zero answer to this for a player of 5.0 or later.
            told = 'handed it out' if e.get('answer') else 'answered 0, as a player before 5.0'
            print(f"The plug-in asked for the player's embedded-window interface; {host} {told}.")
        elif kind == 'host_message' and not e.get('known', True):
            print(f"The plug-in asked the player for message {e.get('lparam')} (wParam {e.get('wparam')}), "
                  f"which {host} does not know; it answered 0.")
        elif kind == 'embed':
            print(f"The plug-in asked for an embedded window at {e.get('r')}; {host} made it.")
        elif kind == 'host_message' and e.get('lparam') == 611:
            if e.get('wparam'):
                print(f"The plug-in registered its render window \"{e.get('window_title')}\" with the player.")
            else:
                print('The plug-in withdrew its render window from the player.')
        elif kind == 'message_box':
            print(f"The plug-in showed a message box \"{e.get('caption')}\": {e.get('text', '').strip()!r} "
                  f"({host} pressed {e.get('pressed')}).")
        elif kind == 'gl':
            print(f"It drew with {e.get('renderer')} ({e.get('vendor')}, OpenGL {e.get('version')}).")
        elif kind == 'init':
            if e.get('result') == 0:
                print(f"Init succeeded; the plug-in asks for a frame every {e.get('delay_ms')} ms.")
            else:
                print(f"Init failed (result {e.get('result')}).")
                failed = True
        elif kind == 'quit_message':
            cause = {'escape': 'Escape was pressed in its window',
                     'close': 'its window was closed'}.get(e.get('cause'),
                                                           'its window was closed or Escape was pressed')
            print(f'The plug-in asked to be stopped ({cause}).')
        elif kind == 'quit':
            print(f'{host.capitalize()} called Quit; the plug-in shut down.')
        elif kind == 'end':
            reason = {'frames': 'all requested frames were drawn',
                      'quit_message': 'the plug-in asked to be stopped',
                      'init_failed': 'Init failed',
                      'stream_end': 'the music ended',
                      'render_ended': "the plug-in's Render asked to end",
                      'video_failed': 'the video could not be written'}.get(e.get('reason'), e.get('reason'))
            print(f"The run ended because {reason}.")
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(describe(sys.argv[1]))
