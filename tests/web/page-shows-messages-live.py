r"""The web page as a user sees it in a real browser: messages played into the private
sound server appear on the open page without a reload, newest first, their text exact
(bytes 0xA0-0xFF as Latin-1, control characters as \xHH), and hostile text
stays text: nothing runs, no dialog opens, no element is added, the title stays. A
second zel-listen on the same port is refused at the start. After zel-listen is killed
(-9) and started again on the same store, the page reconnects by itself and shows every
message once.

Usage: page-shows-messages-live.py ZEL-LISTEN ZEL-ENCODE WORK-DIR [SCREENSHOT.png]
(in the private sound server's environment)."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from headless_browser import HeadlessBrowser  # noqa: E402
from web_service import free_port, stop, wait_for_server  # noqa: E402

# As zel-encode takes them ('\xHH' for a byte), and the bytes the text holds.
MESSAGES = [
    (r"SMS>Pump 4: pressure low", b"Pump 4: pressure low"),
    (r"SMS>Caf\xE9 \xA9\xFF \x01\x7F\x80\x9F end", b"Caf\xe9 \xa9\xff \x01\x7f\x80\x9f end"),
    (r"SMS><img src=x onerror=alert(1)>", b"<img src=x onerror=alert(1)>"),
    (r"SMS><script>document.title='owned';alert(2)</script>",
     b"<script>document.title='owned';alert(2)</script>"),
    (r"LOC>5212N01234E", b"5212N01234E"),
]


def shown(text):
    r"""The text as the page shows it: control characters (C0, DEL, C1) as \\xHH."""
    controls = set(range(0x20)) | set(range(0x7F, 0xA0))
    return "".join(f"\\x{byte:02X}" if byte in controls else chr(byte) for byte in text)


def refused_second(listen, address):
    second = subprocess.run([listen, "--http", address], capture_output=True, text=True,
                            timeout=30)
    expected = f"zel-listen: --http: cannot listen on {address} (Address already in use)\n"
    assert (second.returncode, second.stderr) == (2, expected), (second.returncode, second.stderr)


def play(encode, work, message):
    sound = os.path.join(work, "message.wav")
    subprocess.run([encode, "--preamble", "600", "--gap", "700", "-o", sound, message], check=True)
    subprocess.run(["paplay", sound], check=True)


def listed_texts(browser):
    return browser.evaluate(
        "[...document.querySelectorAll('#messages .text')].map(n => n.textContent.trimEnd())")


def main():
    listen, encode, work = sys.argv[1:4]
    screenshot = sys.argv[4] if len(sys.argv) > 4 else None
    os.makedirs(work, exist_ok=True)
    station = f"web{os.getpid()}"
    url = f"http://127.0.0.1:{free_port()}/"
    address = url[len("http://"):-1]
    errors = os.path.join(work, "stderr")
    store = os.path.join(work, "messages.db")
    for old in (store, store + "-wal", store + "-shm"):
        if os.path.exists(old):
            os.remove(old)

    def start():
        with open(errors, "a") as error_file:
            return subprocess.Popen(
                [listen, "--station", station, "--http", address, "--store", store],
                stdout=subprocess.DEVNULL, stderr=error_file)

    listener = start()
    browser = None
    try:
        wait_for_server(url, listener)
        refused_second(listen, address)
        browser = HeadlessBrowser()
        browser.open(url)
        browser.wait_for("document.getElementById('live').textContent === 'connected'")
        browser.wait_for("document.getElementById('input').textContent.startsWith('listening')")
        title = browser.evaluate("document.title")
        assert title == f"{station} · ZEL Text Receiver", title
        # Gone if the page reloads.
        browser.evaluate("window.zelSamePage = true")
        expected = []
        for message, text in MESSAGES:
            play(encode, work, message)
            expected.insert(0, shown(text))
            browser.wait_for(f"document.querySelectorAll('#messages li').length === {len(expected)}")
        assert listed_texts(browser) == expected, listed_texts(browser)
        kinds = browser.evaluate(
            "[...document.querySelectorAll('#messages .kind')].map(n => n.textContent)")
        assert kinds == ["LOC"] + ["SMS"] * 4, kinds
        browser.wait_for("document.getElementById('location').textContent.startsWith('5212N')")
        assert browser.evaluate("window.zelSamePage === true"), "the page was reloaded"
        assert browser.evaluate("document.title") == title, browser.evaluate("document.title")
        assert browser.dialogs == [], browser.dialogs
        added = browser.evaluate("document.images.length + document.scripts.length")
        assert added == 1, f"{added - 1} elements injected"
        if screenshot:
            browser.screenshot(screenshot)
        listener.kill()
        listener.wait()
        listener = start()
        wait_for_server(url, listener)
        play(encode, work, "SMS>After the restart")
        expected.insert(0, "After the restart")
        browser.wait_for(f"document.querySelectorAll('#messages li').length === {len(expected)}")
        browser.wait_for("document.getElementById('live').textContent === 'connected'")
        assert listed_texts(browser) == expected, listed_texts(browser)
        assert browser.evaluate("window.zelSamePage === true"), "the page was reloaded"
    finally:
        stop(listener, browser)
    with open(errors) as lines:
        assert lines.read() == "", "zel-listen reported problems"
    print("passed: five messages on the open page, in order, exact, and inert; "
          "the page back after a kill -9 with every message once")


main()
