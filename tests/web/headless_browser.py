"""Chromium without a display, driven through its DevTools protocol: open a page,
evaluate script in it, note the dialogs it opens, take a screenshot."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket


class HeadlessBrowser:
    def __init__(self, width=1000, height=800):
        self.profile = tempfile.mkdtemp(prefix="zel-chromium-")
        # As root (CI) Chromium runs only without its sandbox.
        self.process = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--no-default-browser-check", "--hide-scrollbars",
             f"--window-size={width},{height}", "--remote-debugging-port=0",
             f"--user-data-dir={self.profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port = self._devtools_port()
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
        page = next(target for target in targets if target["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=30)
        self.next_id = 0
        self.dialogs = []
        self.call("Page.enable")
        self.call("Runtime.enable")

    def _devtools_port(self):
        active = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if os.path.exists(active):
                with open(active) as lines:
                    first = lines.readline().strip()
                if first:
                    return int(first)
            time.sleep(0.1)
        raise RuntimeError("Chromium did not start its DevTools server")

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("method") == "Page.javascriptDialogOpening":
                self.dialogs.append(reply["params"]["message"])
                self.socket.send(json.dumps({"id": 0, "method": "Page.handleJavaScriptDialog",
                                             "params": {"accept": True}}))
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def open(self, url):
        self.call("Page.navigate", url=url)
        self.wait_for("document.readyState === 'complete'")

    def wait_for(self, expression, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.1)
        raise AssertionError(f"not within {seconds} s: {expression}")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as file:
            file.write(base64.b64decode(data))

    def close(self):
        try:
            self.socket.close()
        finally:
            self.process.terminate()
            self.process.wait(timeout=10)
            shutil.rmtree(self.profile, ignore_errors=True)
