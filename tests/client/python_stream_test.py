#!/usr/bin/env python3
"""The Python module's image stream against a fake Velomark written here: good
images, each fault a hostile server can send, the command line and the worked
example of docs/PROTOCOL.md. Every case checks that no descriptor is left open."""

import fcntl
import json
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_FOLDER = os.path.join(HERE, "..", "..", "client", "python")
PROTOCOL = os.path.join(HERE, "..", "..", "docs", "PROTOCOL.md")
sys.path.insert(0, MODULE_FOLDER)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import velomark_client as vc  # noqa: E402

ALL_SEALS = fcntl.F_SEAL_SHRINK | fcntl.F_SEAL_GROW | fcntl.F_SEAL_WRITE | fcntl.F_SEAL_SEAL


def dib(width, height, shade):
    stride = (width * 3 + 3) & ~3
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, stride * height,
                         11811, 11811, 0, 0)
    return header + bytes((shade + i) % 256 for i in range(stride * height))


def image_info(width, height, bits, dpi_whole, dpi_frac):
    return struct.pack("<hHhHiih8hhHhH", dpi_whole, dpi_frac, dpi_whole, dpi_frac, width,
                       height, 3, 8, 8, 8, 0, 0, 0, 0, 0, bits, 0, 2, 0)


def header(kind, size, sequence, info=bytes(42), magic=vc.STREAM_MAGIC):
    return struct.pack("<IIQII42s6s", magic, kind, size, sequence, 0, info, bytes(6))


def sealed_memfd(data, seals=ALL_SEALS):
    fd = os.memfd_create("test-image", os.MFD_CLOEXEC | os.MFD_ALLOW_SEALING)
    os.write(fd, data)
    fcntl.fcntl(fd, fcntl.F_ADD_SEALS, seals)
    return fd


def image_event(sequence, data, info, seals=ALL_SEALS, size=None, descriptors=1):
    """An image header with `descriptors` sealed memfds of `data`."""
    return (header(vc.EVENT_IMAGE, len(data) if size is None else size, sequence, info),
            [sealed_memfd(data, seals) for _ in range(descriptors)])


def end_event(sent):
    return (header(vc.EVENT_END, 0, sent), [])


class FakeVelomark:
    """Listens at the module's socket path, takes one stream request (and the
    ticket bytes of a ticketed one), replies and sends the events given, then
    closes everything it holds. With a `document` it answers the list of sources."""

    def __init__(self, events, reply=0, document=None):
        self.events = events
        self.reply = reply
        self.document = document
        self.request = None
        self.ticket = None
        path = vc.socket_path()
        if os.path.exists(path):
            os.unlink(path)
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(1)
        self.thread = threading.Thread(target=self._serve)
        self.thread.start()

    def _serve(self):
        try:
            connection, _ = self.listener.accept()
            with connection:
                self.request = connection.recv(24, socket.MSG_WAITALL)
                message, _, _, length = struct.unpack("<IIQQ", self.request)
                if message == vc.TICKET_STREAM_REQUEST:
                    self.ticket = connection.recv(length, socket.MSG_WAITALL)
                if self.document is not None:
                    connection.sendall(struct.pack("<q", len(self.document)) + self.document)
                else:
                    connection.sendall(struct.pack("<q", self.reply))
                for data, fds in self.events:
                    try:
                        if fds:
                            socket.send_fds(connection, [data], fds)
                        else:
                            connection.sendall(data)
                    except OSError:
                        pass  # the client has given up: keep closing what was made
                    finally:
                        for fd in fds:
                            os.close(fd)
        finally:
            self.listener.close()

    def join(self):
        self.thread.join(10)


def open_fds():
    return sorted(os.listdir("/proc/self/fd"))


class StreamTest(unittest.TestCase):
    def setUp(self):
        self.before = open_fds()

    def tearDown(self):
        self.assertEqual(open_fds(), self.before, "descriptors left open")

    def stream(self, events, reply=0):
        """The images the module yields for these events (their copies), or raises."""
        server = FakeVelomark(events, reply)
        try:
            got = []
            with vc.Channel() as channel:
                for image in channel.stream(start=True, count=0, timeout=5):
                    with image:
                        self.assertTrue(image.dib.readonly)
                        got.append((image.sequence, image.width, image.height,
                                    image.bits_per_pixel, image.x_resolution, image.pixel_type,
                                    bytes(image.dib)))
            return got
        finally:
            server.join()
            self.request = server.request

    def test_images_arrive_described_and_mapped_then_the_stream_ends(self):
        first, second = dib(5, 3, 1), dib(2, 7, 9)
        got = self.stream([image_event(1, first, image_info(5, 3, 24, 300, 32768)),
                           image_event(2, second, image_info(2, 7, 8, 600, 0)),
                           end_event(2)])
        self.assertEqual(self.request, struct.pack("<IIQQ", 0x8001, 1, 0, 0))
        self.assertEqual(got, [(1, 5, 3, 24, 300.5, 2, first), (2, 2, 7, 8, 600.0, 2, second)])

    def test_each_hostile_event_is_a_clear_error(self):
        good = dib(4, 4, 3)
        info = image_info(4, 4, 24, 300, 0)
        def short_header():
            data, fds = image_event(1, good, info)
            return [(data[:64], fds), end_event(1)]

        def eof_mid_header():  # with the descriptor, which must not stay open
            data, fds = image_event(1, good, info)
            return [(data[:30], fds)]

        # Each makes its events when it runs, so that only the client's
        # descriptors are open while it does.
        cases = [
            ("bad magic", lambda: [(header(1, len(good), 1, info, magic=0x12345678), [])],
             "magic"),
            ("short header", short_header, "reserved bytes"),
            ("missing descriptor", lambda: [(header(1, len(good), 1, info), [])],
             "0 descriptors instead of one"),
            ("two descriptors", lambda: [image_event(1, good, info, descriptors=2)],
             "2 descriptors instead of one"),
            ("unsealed memfd", lambda: [image_event(1, good, info, seals=fcntl.F_SEAL_GROW)],
             "not sealed"),
            ("size zero", lambda: [image_event(1, good, info, size=0)], "claims 0 bytes"),
            ("size beyond the memfd", lambda: [image_event(1, good, info, size=len(good) + 1)],
             "claims %d bytes, its memory holds %d" % (len(good) + 1, len(good))),
            ("EOF mid-header", eof_mid_header,
             "middle of an event header (30 of 72 bytes)"),
            ("error event", lambda: [(header(3, 14, 0) + b"scanner jammed", [])],
             "Velomark: scanner jammed"),
            ("refused", lambda: [], "refused the stream"),
        ]
        for name, events, text in cases:
            with self.subTest(name):
                with self.assertRaises(vc.VelomarkError) as caught:
                    self.stream(events(), reply=-1 if name == "refused" else 0)
                self.assertIn(text, str(caught.exception))
                self.assertEqual(open_fds(), self.before, "descriptors left open")


class TicketTest(unittest.TestCase):
    def test_each_setting_is_written_as_libvelomark_client_writes_it(self):
        self.assertEqual(vc.ticket_text({}), "input=auto\ncolor=auto\nui=0\n")
        self.assertEqual(
            vc.ticket_text({"device": "Velomark Test Chart", "input": "duplex", "color": "gray",
                            "resolution": (300, 600), "area": (0, 1200, 1, 13200), "pages": 4,
                            "ui": True}),
            "device=Velomark Test Chart\ninput=duplex\ncolor=gray\nresolution=300x600\n"
            "area=0,1200,1,13200\npages=4\nui=1\n")
        self.assertEqual(vc.ticket_text({"device": "", "input": "feeder", "color": "bw",
                                         "resolution": [150, 150], "pages": 0}),
                         "input=feeder\ncolor=bw\nresolution=150\nui=0\n")
        self.assertEqual(vc.ticket_text({"resolution": 75, "device": "Caf\u00e9"}),
                         "device=Caf\u00e9\ninput=auto\ncolor=auto\nresolution=75\nui=0\n")

    def test_every_value_that_cannot_be_written_is_refused(self):
        cases = [
            ({"scanner": "x"}, "no key 'scanner'"),
            ({"input": "adf"}, "input 'adf'"),
            ({"color": "colour"}, "color 'colour'"),
            ({"resolution": 0}, "resolution takes"),
            ({"resolution": True}, "resolution takes"),
            ({"resolution": 2 ** 32}, "resolution takes"),
            ({"resolution": "300"}, "resolution takes"),
            ({"resolution": (300,)}, "(x, y) pair"),
            ({"area": (0, 0, 0, 10)}, "width and height"),
            ({"area": (-1, 0, 10, 10)}, "area takes"),
            ({"area": (0, 0, 10)}, "left, top, width, height"),
            ({"pages": -1}, "pages takes"),
            ({"ui": 2}, "ui 2"),
            ({"device": "A\nui=1"}, "line break"),
            ({"device": " A"}, "space"),
            ({"device": "A\udc80"}, "not UTF-8"),
            ({"device": "n" * 4096}, "at most 4096"),
        ]
        for ticket, reason in cases:
            with self.subTest(ticket=ticket):
                with self.assertRaises(vc.UsageError) as caught:
                    vc.ticket_text(ticket)
                self.assertIn(reason, str(caught.exception))
        longest = "n" * (4096 - len("device=\ninput=auto\ncolor=auto\nui=0\n"))
        self.assertEqual(len(vc.ticket_text({"device": longest})), 4096)


class TicketWireTest(unittest.TestCase):
    def setUp(self):
        self.before = open_fds()

    def tearDown(self):
        self.assertEqual(open_fds(), self.before, "descriptors left open")

    def test_a_ticketed_stream_sends_the_ticket_and_ends_with_velomarks_sentence(self):
        page = dib(4, 2, 7)
        sentence = b"the feeder is empty"
        server = FakeVelomark([image_event(1, page, image_info(4, 2, 8, 150, 0)),
                               (header(vc.EVENT_ERROR, len(sentence), 0) + sentence, [])])
        got = []
        with vc.Channel() as channel:
            with self.assertRaises(vc.VelomarkError) as caught:
                for image in channel.stream(count=3, timeout=5, ticket={
                        "input": "feeder", "color": "gray", "resolution": 150}):
                    with image:
                        got.append(bytes(image.dib))
        server.join()
        ticket = b"input=feeder\ncolor=gray\nresolution=150\nui=0\n"
        self.assertEqual(server.request,
                         struct.pack("<IIQQ", vc.TICKET_STREAM_REQUEST, 0, 3, len(ticket)))
        self.assertEqual(server.ticket, ticket)
        self.assertEqual(got, [page])
        self.assertEqual(str(caught.exception), "Velomark: the feeder is empty")

    def test_a_refused_ticket_and_a_ticket_that_cannot_be_written(self):
        server = FakeVelomark([], reply=-1)
        with vc.Channel() as channel:
            with self.assertRaises(vc.RefusedError):
                list(channel.stream(ticket={"color": "gray"}, timeout=5))
            server.join()
            with self.assertRaises(vc.UsageError):
                list(channel.stream(ticket={"color": "grey"}, timeout=5))

    def test_the_sources_come_as_the_documents_list(self):
        document = json.dumps({"sources": [
            {"name": "Velomark Test Chart", "default": True, "inputs": ["flatbed"],
             "colors": [], "resolutions": {"list": [75, 150]}, "new": 1},
            {"name": "Unplugged", "error": "the source could not be opened"}]}).encode()
        server = FakeVelomark([], document=document)
        with vc.Channel() as channel:
            sources = channel.devices(timeout=5)
        server.join()
        self.assertEqual(server.request, struct.pack("<IIQQ", vc.SOURCES_REQUEST, 0, 0, 0))
        self.assertEqual(sources, json.loads(document)["sources"])
        for answer, error in ((b"[]", vc.VelomarkError), (b"{", vc.VelomarkError)):
            server = FakeVelomark([], document=answer)
            with vc.Channel() as channel:
                with self.assertRaises(error):
                    channel.devices(timeout=5)
            server.join()
        server = FakeVelomark([], reply=-1)
        with vc.Channel() as channel:
            with self.assertRaises(vc.RefusedError):
                channel.devices(timeout=5)
        server.join()


class CommandLineTest(unittest.TestCase):
    def run_module(self, folder, *args):
        return subprocess.run([sys.executable, os.path.join(MODULE_FOLDER, "velomark_client.py"),
                               "acquire", "--stream", "-o", folder, "-t", "5", *args],
                              capture_output=True, text=True, timeout=30)

    def test_json_lines_and_bmp_files(self):
        pages = [dib(5, 3, 1), dib(6, 2, 2)]
        server = FakeVelomark([image_event(1, pages[0], image_info(5, 3, 24, 300, 0)),
                               image_event(2, pages[1], image_info(6, 2, 8, 150, 0)),
                               end_event(2)])
        with tempfile.TemporaryDirectory() as folder:
            run = self.run_module(folder, "--json")
            server.join()
            self.assertEqual(run.returncode, 0, run.stderr)
            lines = [json.loads(line) for line in run.stdout.splitlines()]
            self.assertEqual(len(lines), 3, run.stdout)
            for number, (line, page) in enumerate(zip(lines, pages), 1):
                path = os.path.join(folder, "image-%03d.bmp" % number)
                self.assertEqual({k: v for k, v in line.items() if k != "ms"},
                                 {"path": path, "width": (5, 6)[number - 1],
                                  "height": (3, 2)[number - 1], "bits": (24, 8)[number - 1],
                                  "xres": (300.0, 150.0)[number - 1],
                                  "yres": (300.0, 150.0)[number - 1], "bytes": len(page)})
                with open(path, "rb") as saved:
                    self.assertEqual(saved.read(), vc.bmp_file_bytes(page))
            self.assertEqual((lines[2]["end"], lines[2]["pages"]), (True, 2))

    def test_no_pages_has_its_own_exit_code(self):
        server = FakeVelomark([end_event(0)])
        with tempfile.TemporaryDirectory() as folder:
            run = self.run_module(folder)
            server.join()
        self.assertEqual(run.returncode, vc.EXIT_NO_PAGES, run.stderr)
        self.assertIn("no pages", run.stderr)


class ProtocolExampleTest(unittest.TestCase):
    def test_the_worked_example_saves_every_page(self):
        with open(PROTOCOL, encoding="utf-8") as notes:
            text = notes.read()
        section = text[text.index("## 10. The image stream from Python"):]
        example = re.search(r"### Python\n.*?```python\n(.*?)```", section, re.S).group(1)
        pages = [dib(3, 2, 5), dib(2, 2, 6)]
        server = FakeVelomark([image_event(1, pages[0], image_info(3, 2, 24, 300, 0)),
                               image_event(2, pages[1], image_info(2, 2, 24, 300, 0)),
                               end_event(2)])
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run([sys.executable, "-c", example], cwd=folder,
                                 env=dict(os.environ, PYTHONPATH=MODULE_FOLDER,
                                          PYTHONDONTWRITEBYTECODE="1"),
                                 capture_output=True, text=True, timeout=30)
            server.join()
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stdout, "page 1: 3 x 2 at 300 dpi\npage 2: 2 x 2 at 300 dpi\n")
            for number, page in enumerate(pages, 1):
                with open(os.path.join(folder, "page-%d.bmp" % number), "rb") as saved:
                    self.assertEqual(saved.read(), vc.bmp_file_bytes(page))


if __name__ == "__main__":
    # Run alone, the script makes a channel of its own.
    if "XDG_RUNTIME_DIR" not in os.environ or "VELOMARK_CHANNEL_SUFFIX" not in os.environ:
        os.environ["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="velomark-stream-test-")
        os.environ["VELOMARK_CHANNEL_SUFFIX"] = "-stream-test-%d" % os.getpid()
    unittest.main()
