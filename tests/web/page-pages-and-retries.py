r"""The web page in a real browser when the server says no, and paging through a
search: a page opened while every event stream is taken gets its live messages once
one is free; the newest page of the results, Older, Newer, and Newer once more at the
newest, which keeps the newest page (never an empty list, nor a broken request); a
search the server refuses before it reads it (far too long) is told in plain words.

Usage: page-pages-and-retries.py ZEL-LISTEN WORK-DIR
(in the private sound server's environment)."""

import os
import socket
import sqlite3
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from headless_browser import HeadlessBrowser  # noqa: E402
from web_service import free_port, stop, wait_for_server  # noqa: E402

STREAMS = 56  # the server's limit
MATCHES = 60  # "alpha" in every other message: a full page and ten more


def fill(store):
    """Messages 1 to 2 * MATCHES, the odd ones holding "alpha"."""
    with sqlite3.connect(store) as database:
        for id in range(1, 2 * MATCHES + 1):
            text = b"alpha %d" % id if id % 2 else b"beta %d" % id
            database.execute(
                "INSERT INTO messages (id, time, kind, text, headed, station, demodulator) "
                "VALUES (?, ?, 'SMS', ?, 1, 'web', 'matched')", (id, id * 10**9, text))
            database.execute("INSERT INTO message_search (rowid, text) VALUES (?, ?)", (id, text))


def main():
    listen, work = sys.argv[1:3]
    os.makedirs(work, exist_ok=True)
    store = os.path.join(work, "store.db")
    for leftover in [store, store + "-wal", store + "-shm"]:
        if os.path.exists(leftover):
            os.remove(leftover)
    url = f"http://127.0.0.1:{free_port()}/"
    listener = subprocess.Popen([listen, "--station", "web", "--store", store, "--http",
                                 url[len("http://"):-1]], stdout=subprocess.DEVNULL)
    browser = None
    try:
        wait_for_server(url, listener)
        fill(store)
        port = int(url.split(":")[2].rstrip("/"))
        taken = [socket.create_connection(("127.0.0.1", port)) for _ in range(STREAMS)]
        for stream in taken:
            stream.sendall(b"GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n")
            stream.recv(12)  # its status line: taken
        browser = HeadlessBrowser()
        browser.open(url)
        browser.wait_for("byId('live').textContent === 'reconnecting…'")
        for stream in taken:
            stream.close()
        # A stream closed is noticed at the server's next heartbeat (15 s), then the
        # page's next try takes its place.
        browser.wait_for("byId('live').textContent === 'connected'", seconds=40)
        browser.wait_for("document.querySelectorAll('#messages li').length === 50")

        def shown(action, count):
            browser.evaluate(f"document.getElementById('messages').replaceChildren(); {action}")
            browser.wait_for(f"document.querySelectorAll('#messages li').length === {count}")
            return browser.evaluate(
                "[...document.querySelectorAll('#messages li')].map(n => +n.dataset.id)"
                ".concat([document.getElementById('older').disabled])")

        newest = list(range(2 * MATCHES - 1, 20, -2))
        search = "byId('q').value = 'alpha'; byId('search').requestSubmit()"
        assert shown(search, 50) == newest + [False]
        assert shown("byId('older').click()", 10) == list(range(19, 0, -2)) + [True]
        assert shown("byId('newer').click()", 50) == newest + [False]
        assert shown("byId('newer').click()", 50) == newest + [False]
        browser.evaluate("byId('q').value = 'x'.repeat(20000); byId('search').requestSubmit()")
        browser.wait_for("byId('note').textContent.startsWith('Cannot read the messages: 4')")
    finally:
        stop(listener, browser)
    print("passed: a search paged Older and Newer, and Newer at the newest keeps it")


main()
