"""zel-listen's web server as the page tests start it."""

import json
import socket
import sys
import time
import urllib.request


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_server(url, listener):
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if listener.poll() is not None:
            sys.exit(f"FAILED: zel-listen ended with status {listener.returncode}")
        try:
            return json.load(urllib.request.urlopen(url + "api/status", timeout=2))
        except OSError:
            time.sleep(0.1)
    sys.exit("FAILED: the web server did not answer")


def stop(listener, browser):
    """Closes the browser (if any) and ends zel-listen, which must end well."""
    if browser:
        browser.close()
    listener.terminate()
    listener.wait(timeout=10)
    assert listener.returncode == 0, f"zel-listen ended with status {listener.returncode}"
