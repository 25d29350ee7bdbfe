#!/usr/bin/env python3
"""Take images from a running Velomark, with the Python standard library only.

Velomark and its client share two named sections (the data block and the status
block, POSIX shared-memory objects) and Velomark's command socket; see
docs/PROTOCOL.md. As a module:

    with velomark_client.Channel() as channel:
        channel.check_running()
        channel.request(velomark_client.STATUS_ACQUIRE)
        channel.wait_image(timeout=30)
        dib, info = channel.copy_image(), channel.copy_image_info()
        channel.acknowledge()

Or every image of an acquisition, each as it is scanned, mapped without a copy:

    with velomark_client.Channel() as channel:
        for image in channel.stream(start=True, count=0):
            with image:
                use(image.width, image.height, image.dib)

Or a scan with settings (a ticket), after a look at what the sources can do:

    with velomark_client.Channel() as channel:
        print([source["name"] for source in channel.devices()])
        for image in channel.stream(ticket={"input": "feeder", "color": "gray",
                                            "resolution": 150}):
            with image:
                use(image.dib)

As a program: python3 velomark_client.py acquire -n 1 -o DIR (see --help).
"""

import argparse
import fcntl
import json
import mmap
import os
import socket
import stat
import struct
import sys
import time

BLOCK_SIZE = 16096000
DATA_SECTION = "dllmemfilemap"
STATUS_SECTION = "dllmemfilemapStatus"
STATUS_ZEROED_BYTES = 80

STATUS_IDLE = 0
STATUS_SELECT_SOURCE = 1
STATUS_ACQUIRE = 2
STATUS_IMAGE_READY = 5

IMAGE_INFO_OFFSET = 4
IMAGE_INFO_SIZE = 42
COMMAND_TEXT_MAX = 259
ID_GET_DIB_BITES = 32783
WM_COMMAND = 0x0111
MODE_SEND = 0
MODE_POST = 1

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_NOT_RUNNING = 3
EXIT_TIMED_OUT = 4
EXIT_REFUSED = 5
EXIT_NO_PAGES = 6

STREAM_REQUEST = 0x8001
STREAM_START = 1
STREAM_MAGIC = 0x314D5356
STREAM_HEADER_SIZE = 72
EVENT_IMAGE = 1
EVENT_END = 2
EVENT_ERROR = 3
TICKET_STREAM_REQUEST = 0x8002
SOURCES_REQUEST = 0x8003
TICKET_MAX = 4096
TICKET_INPUTS = ("auto", "flatbed", "feeder", "duplex")
TICKET_COLORS = ("auto", "bw", "gray", "rgb")
# A list of sources larger than this is no list Velomark would send.
SOURCES_MAX = 16 << 20
# F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL
STREAM_SEALS = 0x0002 | 0x0004 | 0x0008 | 0x0001
# The fcntl module has it from Python 3.8; the value is Linux's.
F_GET_SEALS = getattr(fcntl, "F_GET_SEALS", 1034)
# An error text longer than this is cut: it is only read to be shown.
STREAM_ERROR_TEXT_MAX = 65536
# Room for a few descriptors, so that extra ones arrive and can be closed.
_STREAM_MAX_FDS = 8
_IMAGE_INFO = struct.Struct("<hHhHiih8hhHhH")
_EVENT_HEADER = struct.Struct("<IIQII42s6s")

# Where glibc's shm_open keeps the objects; opening the file there is shm_open.
SHM_FOLDER = "/dev/shm"
# How often a wait looks at the status word, in seconds.
POLL_INTERVAL = 0.001
_OPEN_ATTEMPTS = 20
_SIZE_WAIT_ATTEMPTS = 200


class VelomarkError(Exception):
    """A failure, with the exit code the command line ends with."""

    exit_code = EXIT_FAILED


class UsageError(VelomarkError):
    exit_code = EXIT_USAGE


class NotRunningError(VelomarkError):
    exit_code = EXIT_NOT_RUNNING


class VelomarkTimeout(VelomarkError):
    exit_code = EXIT_TIMED_OUT


class RefusedError(VelomarkError):
    exit_code = EXIT_REFUSED


class NoPagesError(VelomarkError):
    """The acquisition ended without a single page."""

    exit_code = EXIT_NO_PAGES


def section_name(base):
    """The section's name with the test-only suffix from VELOMARK_CHANNEL_SUFFIX."""
    return base + os.environ.get("VELOMARK_CHANNEL_SUFFIX", "")


def socket_path():
    """$XDG_RUNTIME_DIR/velomark.sock, else /tmp/velomark-<uid>/velomark.sock."""
    name = "velomark" + os.environ.get("VELOMARK_CHANNEL_SUFFIX", "") + ".sock"
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime:
        return os.path.join(runtime, name)
    folder = "/tmp/velomark-%d" % os.getuid()
    try:
        os.mkdir(folder, 0o700)
    except FileExistsError:
        pass
    info = os.lstat(folder)
    if not stat.S_ISDIR(info.st_mode):
        raise VelomarkError(folder + " is not a folder")
    if info.st_uid != os.getuid():
        raise VelomarkError(folder + " belongs to another user")
    if info.st_mode & 0o077:
        raise VelomarkError(folder + " is open to other users (mode must be 0700)")
    return os.path.join(folder, name)


class _Section:
    """One named section, created or opened; every user holds a shared flock on
    it, and the last one to close (an exclusive flock then succeeds) removes it."""

    def __init__(self, name, zero_bytes):
        self.path = os.path.join(SHM_FOLDER, name)
        self.fd = None
        self.map = None
        flags = os.O_RDWR | os.O_NOFOLLOW | os.O_CLOEXEC
        created = False
        for _ in range(_OPEN_ATTEMPTS):
            try:
                fd = os.open(self.path, flags | os.O_CREAT | os.O_EXCL, 0o600)
            except FileExistsError:
                fd = self._open_existing(flags)
                if fd is None:
                    continue  # the last user removed it meanwhile: create it afresh
            else:
                created = True
                # Nobody may use it before it has its size.
                fcntl.flock(fd, fcntl.LOCK_EX)
                try:
                    os.ftruncate(fd, BLOCK_SIZE)
                    os.posix_fallocate(fd, 0, BLOCK_SIZE)  # a full /dev/shm fails here
                except OSError:
                    os.unlink(self.path)
                    os.close(fd)
                    raise
                fcntl.flock(fd, fcntl.LOCK_SH)
            break
        else:
            raise VelomarkError("cannot create or open the section " + name)
        self.fd = fd
        size = os.fstat(fd).st_size
        if size == 0:
            self.close()
            raise VelomarkError("the section %s is empty" % name)
        # The object's real size: another process may have made it smaller.
        self.map = mmap.mmap(fd, size, mmap.MAP_SHARED, mmap.PROT_READ | mmap.PROT_WRITE)
        if created:
            zeroed = min(size, zero_bytes)
            self.map[0:zeroed] = bytes(zeroed)

    def _open_existing(self, flags):
        try:
            fd = os.open(self.path, flags)
        except FileNotFoundError:
            return None
        for wait in range(_SIZE_WAIT_ATTEMPTS + 1):
            fcntl.flock(fd, fcntl.LOCK_SH)
            if os.fstat(fd).st_size > 0 or wait == _SIZE_WAIT_ATTEMPTS:
                break
            fcntl.flock(fd, fcntl.LOCK_UN)  # let its creator take its exclusive lock
            time.sleep(0.001)
        try:
            same = os.stat(self.path).st_ino == os.fstat(fd).st_ino
        except FileNotFoundError:
            same = False
        if not same:
            os.close(fd)
            return None
        return fd

    @property
    def size(self):
        return len(self.map)

    def refresh(self):
        """Maps the object again when another process changed its size."""
        size = os.fstat(self.fd).st_size
        if size != len(self.map) and size > 0:
            self.map.close()
            self.map = mmap.mmap(self.fd, size, mmap.MAP_SHARED,
                                 mmap.PROT_READ | mmap.PROT_WRITE)

    def grow(self, size):
        """Makes the object at least `size` bytes (never smaller), memory reserved."""
        if os.fstat(self.fd).st_size < size:
            os.posix_fallocate(self.fd, 0, size)
        self.refresh()

    def close(self):
        if self.map is not None:
            self.map.close()
            self.map = None
        if self.fd is not None:
            try:
                fcntl.flock(self.fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                try:
                    os.unlink(self.path)
                except FileNotFoundError:
                    pass
            except BlockingIOError:
                pass  # someone else still has it open
            os.close(self.fd)
            self.fd = None


class Channel:
    """Both sections and the command socket, the way Velomark's clients use them."""

    def __init__(self):
        self._data = _Section(section_name(DATA_SECTION), BLOCK_SIZE)
        try:
            self._status = _Section(section_name(STATUS_SECTION), STATUS_ZEROED_BYTES)
        except BaseException:
            self._data.close()
            raise
        # A typed view: the status word is read and written as one aligned 32-bit
        # access (a plain load acquires and a plain store releases on x86-64).
        self._status_view = memoryview(self._status.map)
        self._status_word = None
        if self._status.size >= 4:
            self._status_word = self._status_view[0:4].cast("i")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        # The views must go before the map they look into can be closed.
        if self._status_word is not None:
            self._status_word.release()
            self._status_word = None
        if self._status_view is not None:
            self._status_view.release()
            self._status_view = None
        self._status.close()
        self._data.close()

    @property
    def data_size(self):
        return self._data.size

    # The status word.
    def grow_data(self, size):
        """Makes the data section at least `size` bytes, so that Velomark can place
        images up to that size. It only ever grows."""
        self._data.grow(size)

    def status(self):
        if self._status_word is None:
            raise VelomarkError("the status block holds no status word")
        return self._status_word[0]

    def set_status(self, value):
        if self._status_word is None:
            raise VelomarkError("the status block holds no status word")
        self._status_word[0] = value

    def request(self, value):
        if value not in (STATUS_SELECT_SOURCE, STATUS_ACQUIRE):
            raise UsageError("a request is 1 (select source) or 2 (acquire), not %r" % value)
        self.set_status(value)

    def acknowledge(self):
        self.set_status(STATUS_IDLE)

    def _wait(self, done, timeout, what):
        deadline = None if timeout is None else time.monotonic() + timeout
        while not done(self.status()):
            if deadline is not None and time.monotonic() >= deadline:
                raise VelomarkTimeout("timed out after %g s waiting for %s" % (timeout, what))
            time.sleep(POLL_INTERVAL)

    def wait_image(self, timeout=None):
        self._wait(lambda s: s == STATUS_IMAGE_READY, timeout, "an image")

    def wait_status_change(self, value, timeout=None):
        self._wait(lambda s: s != value, timeout, "Velomark to take up the request")

    # The data block's text.
    def get_text(self, limit=65535):
        block = self._data.map
        end = block.find(b"\0", 0, min(limit, len(block)))
        if end < 0:
            end = min(limit, len(block))
        return block[0:end].decode("utf-8", "replace")

    def set_text(self, text):
        raw = text.encode("utf-8") + b"\0"
        if len(raw) > self._data.size:
            raise UsageError("the text needs %d bytes, the data block has %d"
                             % (len(raw), self._data.size))
        self._data.map[0:len(raw)] = raw

    # The image.
    def image_size(self):
        """The packed 24-bit image's size from its header, checked against the block."""
        if self.status() != STATUS_IMAGE_READY:
            raise VelomarkError("no image is ready (the status word is not 5)")
        self._data.refresh()  # another client may have grown it for a larger image
        return packed_dib_size(self._data.map, "the data block")

    def copy_image(self):
        """The packed DIB: 40-byte header and bottom-up rows, as bytes."""
        return bytes(self._data.map[0:self.image_size()])

    def copy_image_info(self):
        """The 42-byte TW_IMAGEINFO of the last image."""
        if self._status.size < IMAGE_INFO_OFFSET + IMAGE_INFO_SIZE:
            raise VelomarkError("the status block is too small for a description")
        return bytes(self._status.map[IMAGE_INFO_OFFSET:IMAGE_INFO_OFFSET + IMAGE_INFO_SIZE])

    # The command socket.
    def _connect(self, timeout):
        path = socket_path()
        connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        connection.settimeout(max(timeout, 0.001))  # 0 would make it non-blocking
        try:
            connection.connect(path)
        except (FileNotFoundError, ConnectionRefusedError, NotADirectoryError) as error:
            connection.close()
            raise NotRunningError("Velomark is not running (cannot connect to %s: %s)"
                                  % (path, error.strerror))
        except socket.timeout:
            connection.close()
            raise VelomarkTimeout("no answer from " + path + " in time")
        return connection

    def check_running(self, timeout=2.0):
        self._connect(timeout).close()

    def _call(self, connection, command_id, mode):
        connection.sendall(struct.pack("<IIQQ", WM_COMMAND, mode, command_id, 0))
        reply = b""
        while len(reply) < 8:
            piece = connection.recv(8 - len(reply))
            if not piece:
                raise VelomarkError("Velomark closed the connection before replying")
            reply += piece
        if struct.unpack("<q", reply)[0] != 0:
            raise RefusedError("Velomark refused command %d (disabled or unknown)" % command_id)

    def send_command(self, command_id, post=False, timeout=10.0):
        """WM_COMMAND over the socket: post returns once queued, send once it ran."""
        with self._connect(timeout) as connection:
            try:
                self._call(connection, command_id, MODE_POST if post else MODE_SEND)
            except socket.timeout:
                raise VelomarkTimeout("timed out waiting for Velomark's reply")

    def stream(self, start=True, count=0, timeout=None, ticket=None):
        """Yields each image of an acquisition as a StreamImage, over the command
        socket. start: begin an acquisition now, else take those started otherwise;
        count: images wanted, 0 until the acquisition ends; timeout: seconds to wait
        for each event, None for ever. With a ticket (a dict, see ticket_text) the
        images are those of a job of its own with these settings (`start` does not
        apply): a job that cannot run as asked raises VelomarkError with Velomark's
        sentence. Every failure is a VelomarkError."""
        if not 0 <= count < 2 ** 64:
            raise UsageError("a count is between 0 and 2^64 - 1, not %r" % count)
        if ticket is None:
            request = struct.pack("<IIQQ", STREAM_REQUEST, STREAM_START if start else 0,
                                  count, 0)
        else:
            text = ticket_text(ticket).encode("utf-8")
            request = struct.pack("<IIQQ", TICKET_STREAM_REQUEST, 0, count, len(text)) + text
        connection = self._connect(10.0 if timeout is None else timeout)
        try:
            try:
                connection.sendall(request)
                reply = _receive_exactly(connection, 8)
                if len(reply) < 8:
                    raise VelomarkError("Velomark closed the connection before replying")
                if struct.unpack("<q", reply)[0] != 0:
                    if ticket is not None:
                        raise RefusedError("Velomark refused the ticket (malformed, an unknown "
                                           "key or value, or no TWAIN driver)")
                    raise RefusedError("Velomark refused the stream (no Data Source Manager?)")
                connection.settimeout(timeout)
                yield from _stream_events(connection, count)
            except socket.timeout:
                raise VelomarkTimeout("timed out waiting for the stream's next event")
            except (OSError, ValueError) as error:
                raise VelomarkError("the stream failed: %s" % error)
        finally:
            connection.close()

    def devices(self, timeout=30.0):
        """The sources and their abilities: the list of Velomark's JSON document
        (docs/PROTOCOL.md, section 12), one dict per source. RefusedError when
        Velomark has no TWAIN driver."""
        with self._connect(timeout) as connection:
            try:
                connection.sendall(struct.pack("<IIQQ", SOURCES_REQUEST, 0, 0, 0))
                reply = _receive_exactly(connection, 8)
                if len(reply) < 8:
                    raise VelomarkError("Velomark closed the connection before replying")
                length = struct.unpack("<q", reply)[0]
                if length == -1:
                    raise RefusedError("Velomark refused to list its sources (no TWAIN "
                                       "driver?)")
                if not 0 < length <= SOURCES_MAX:
                    raise VelomarkError("Velomark announced a list of sources of %d bytes"
                                        % length)
                document = _receive_exactly(connection, length)
            except socket.timeout:
                raise VelomarkTimeout("the list of sources did not come in time")
        if len(document) < length:
            raise VelomarkError("the list of sources stopped after %d of its %d bytes"
                                % (len(document), length))
        try:
            sources = json.loads(document.decode("utf-8"))["sources"]
        except (UnicodeDecodeError, ValueError, KeyError, TypeError) as error:
            raise VelomarkError("the list of sources is not the document Velomark sends: %s"
                                % error)
        if not isinstance(sources, list):
            raise VelomarkError("the document's \"sources\" is not a list")
        return sources

    def command(self, text, timeout=10.0):
        """Writes the command text, sends 32783 and returns the text left there."""
        if len(text.encode("utf-8")) > COMMAND_TEXT_MAX:
            raise UsageError("a command text has at most %d bytes" % COMMAND_TEXT_MAX)
        # Connected first, so that the data block is left as it was when nobody answers.
        with self._connect(timeout) as connection:
            self.set_text(text)
            try:
                self._call(connection, ID_GET_DIB_BITES, MODE_SEND)
            except socket.timeout:
                raise VelomarkTimeout("timed out waiting for Velomark's reply")
        return self.get_text()


def _ticket_number(key, value, smallest):
    """A ticket's whole number from `smallest` to 2^32 - 1 (bools are no numbers)."""
    if isinstance(value, bool) or not isinstance(value, int) or \
            not smallest <= value < 2 ** 32:
        raise UsageError("%s takes whole numbers from %d to %d, not %r"
                         % (key, smallest, 2 ** 32 - 1, value))
    return value


def _ticket_device(device):
    if not isinstance(device, str):
        raise UsageError("device is a source's product name, not %r" % (device,))
    if device.startswith(" "):
        raise UsageError("a device name cannot start with a space")
    if any(ord(c) < 0x20 or ord(c) == 0x7F for c in device):
        raise UsageError("a device name cannot hold a line break or another control "
                         "character")
    try:
        device.encode("utf-8")
    except UnicodeEncodeError:
        raise UsageError("the device name is not UTF-8")
    return device


def ticket_text(ticket):
    """The ticket's text, the "key=value" lines Velomark reads (docs/PROTOCOL.md,
    section 11), from a dict with the keys device, input, color, resolution (dpi,
    or an (x, y) pair), area ((left, top, width, height) in 1/1200 inch), pages and
    ui. Written as libvelomark-client writes it: input, color and ui always, the
    others when set. UsageError names a key or value that cannot be written."""
    unknown = sorted(set(ticket) - {"device", "input", "color", "resolution", "area",
                                    "pages", "ui"})
    if unknown:
        raise UsageError("a ticket has no key %s" % ", ".join(map(repr, unknown)))
    lines = []
    device = ticket.get("device")
    if device:
        lines.append("device=" + _ticket_device(device))
    for key, names in (("input", TICKET_INPUTS), ("color", TICKET_COLORS)):
        value = ticket.get(key, "auto")
        if value not in names:
            raise UsageError("%s %r is none of %s" % (key, value, ", ".join(names)))
        lines.append("%s=%s" % (key, value))
    resolution = ticket.get("resolution")
    if resolution is not None:
        if isinstance(resolution, (tuple, list)):
            if len(resolution) != 2:
                raise UsageError("resolution is dpi or an (x, y) pair, not %r" % (resolution,))
            x, y = (_ticket_number("resolution", r, 1) for r in resolution)
            lines.append("resolution=%d" % x if x == y else "resolution=%dx%d" % (x, y))
        else:
            lines.append("resolution=%d" % _ticket_number("resolution", resolution, 1))
    area = ticket.get("area")
    if area is not None:
        if not isinstance(area, (tuple, list)) or len(area) != 4:
            raise UsageError("area is (left, top, width, height) in 1/1200 inch, not %r"
                             % (area,))
        left, top = (_ticket_number("area", a, 0) for a in area[:2])
        width, height = (_ticket_number("area's width and height", a, 1) for a in area[2:])
        lines.append("area=%d,%d,%d,%d" % (left, top, width, height))
    pages = _ticket_number("pages", ticket.get("pages", 0), 0)
    if pages:
        lines.append("pages=%d" % pages)
    ui = ticket.get("ui", 0)
    if ui not in (0, 1):  # True and False are 1 and 0
        raise UsageError("ui %r is neither 0 nor 1" % (ui,))
    lines.append("ui=%d" % ui)
    text = "".join(line + "\n" for line in lines)
    if len(text.encode("utf-8")) > TICKET_MAX:
        raise UsageError("the ticket needs %d bytes, at most %d are allowed"
                         % (len(text.encode("utf-8")), TICKET_MAX))
    return text


class StreamImage:
    """One image of a stream: its description and `dib`, a read-only view of the
    packed DIB mapped from Velomark's sealed memory, without a copy. The mapping
    (and one descriptor) stays until release() or the end of a `with` block."""

    def __init__(self, sequence, size, info, mapping):
        self.sequence = sequence
        self.size = size
        self.info = info  # the 42-byte TW_IMAGEINFO as it came
        fields = _IMAGE_INFO.unpack(info)
        x_whole, x_frac, y_whole, y_frac, self.width, self.height = fields[:6]
        self.samples_per_pixel = fields[6]
        self.bits_per_sample = fields[7:15]
        self.bits_per_pixel, planar, self.pixel_type, self.compression = fields[15:]
        self.planar = bool(planar)
        # TW_FIX32: a signed whole part and a fraction in 65536ths.
        self.x_resolution = x_whole + x_frac / 65536.0
        self.y_resolution = y_whole + y_frac / 65536.0
        self._map = mapping
        self.dib = memoryview(mapping)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()

    def release(self):
        """Unmaps the image; `dib` can no longer be used. Views taken from `dib`
        must be released first (mmap refuses to close under them)."""
        if self._map is not None:
            self.dib.release()
            self._map.close()
            self._map = None


def _close_all(fds):
    for fd in fds:
        os.close(fd)


def _receive_header(connection):
    """One 72-byte event header and the descriptors that came with it."""
    header = b""
    fds = []
    try:
        while len(header) < STREAM_HEADER_SIZE:
            piece, more, flags, _ = socket.recv_fds(
                connection, STREAM_HEADER_SIZE - len(header), _STREAM_MAX_FDS,
                socket.MSG_CMSG_CLOEXEC)
            fds += more
            if flags & socket.MSG_CTRUNC:
                raise VelomarkError("an event came with more descriptors than it may carry")
            if not piece:
                if header:
                    raise VelomarkError("the stream ended in the middle of an event header "
                                        "(%d of %d bytes)" % (len(header), STREAM_HEADER_SIZE))
                raise VelomarkError("the stream ended before the end of the acquisition")
            header += piece
    except BaseException:
        _close_all(fds)
        raise
    return header, fds


def _receive_exactly(connection, size):
    data = b""
    while len(data) < size:
        piece = connection.recv(size - len(data))
        if not piece:
            break
        data += piece
    return data


def _map_image(fd, size):
    """Checks the image's memory (sealed, large enough) and maps it read-only."""
    try:
        seals = fcntl.fcntl(fd, F_GET_SEALS)
    except OSError:
        raise VelomarkError("an image event came with a descriptor that is not sealable "
                            "memory")
    if seals & STREAM_SEALS != STREAM_SEALS:
        raise VelomarkError("the image's memory is not sealed against changes "
                            "(seals 0x%x, needed 0x%x)" % (seals, STREAM_SEALS))
    # mmap would take 0 as "the whole file"; a DIB header alone is 40 bytes.
    if size < 40:
        raise VelomarkError("an image event claims %d bytes, too few for an image" % size)
    actual = os.fstat(fd).st_size
    if actual < size:
        raise VelomarkError("an image event claims %d bytes, its memory holds %d"
                            % (size, actual))
    mapping = mmap.mmap(fd, size, access=mmap.ACCESS_READ)
    try:
        packed_dib_size(mapping, "the image's memory")
    except BaseException:
        mapping.close()
        raise
    return mapping


def _stream_events(connection, count):
    """The images of an accepted stream, until the end event or `count` images."""
    received = 0
    while count == 0 or received < count:
        header, fds = _receive_header(connection)
        try:
            magic, kind, size, sequence, reserved, info, padding = _EVENT_HEADER.unpack(header)
            if magic != STREAM_MAGIC:
                raise VelomarkError("an event header does not start with the stream's magic "
                                    "(0x%08x instead of 0x%08x)" % (magic, STREAM_MAGIC))
            # Bytes of the next event here mean the sender's header was short.
            if reserved != 0 or padding != bytes(6):
                raise VelomarkError("an event header has non-zero reserved bytes "
                                    "(not a %d-byte header?)" % STREAM_HEADER_SIZE)
            if kind != EVENT_IMAGE and fds:
                raise VelomarkError("an event of kind %d came with a descriptor" % kind)
            if kind == EVENT_END:
                if size != 0 or sequence != received:
                    raise VelomarkError("the end event says %d images (size %d); %d arrived"
                                        % (sequence, size, received))
                return
            if kind == EVENT_ERROR:
                text = _receive_exactly(connection, min(size, STREAM_ERROR_TEXT_MAX))
                raise VelomarkError("Velomark: " + text.decode("utf-8", "replace"))
            if kind != EVENT_IMAGE:
                raise VelomarkError("an event of unknown kind %d" % kind)
            if len(fds) != 1:
                raise VelomarkError("an image event came with %d descriptors instead of one"
                                    % len(fds))
            if sequence != received + 1:
                raise VelomarkError("image event %d came where %d was due"
                                    % (sequence, received + 1))
            mapping = _map_image(fds[0], size)
        finally:
            _close_all(fds)  # a mapping keeps what it needs
        received += 1
        yield StreamImage(sequence, size, info, mapping)


def packed_dib_size(block, where):
    """The packed 24-bit DIB's size from its header, checked against len(block)."""
    if len(block) < 40:
        raise VelomarkError(where + " is too small for an image header")
    (header_size, width, height, planes, bits, compression, _, _, _, colors_used,
     _) = struct.unpack_from("<IiiHHIIiiII", block, 0)
    if header_size != 40 or planes != 1 or bits != 24 or compression != 0:
        raise VelomarkError(where + " does not start with a 24-bit image header")
    if width <= 0 or height <= 0 or colors_used > 256:
        raise VelomarkError("the image header is invalid (%d x %d)" % (width, height))
    stride = (width * 3 + 3) & ~3
    total = 40 + 4 * colors_used + stride * height
    if total > len(block):
        raise VelomarkError("the image header claims %d bytes, %s holds %d"
                            % (total, where, len(block)))
    return total


def bmp_file_header(dib):
    """The 14 bytes that make a BMP file of a packed DIB."""
    colors_used = struct.unpack_from("<I", dib, 32)[0]
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 14 + 40 + 4 * colors_used)


def bmp_file_bytes(dib):
    """A BMP file: the 14-byte file header, then the packed DIB as it is."""
    return bmp_file_header(dib) + dib


def _save_bmp(path, dib):
    """Writes beside the name and renames, so a failure leaves no half file."""
    part = path + ".part"
    try:
        with open(part, "wb") as out:
            out.write(bmp_file_header(dib))
            out.write(dib)
        os.replace(part, path)
    except OSError:
        if os.path.exists(part):
            os.remove(part)
        raise


def _acquire(channel, args):
    channel.check_running()
    os.makedirs(args.o, exist_ok=True)
    channel.request(STATUS_ACQUIRE)
    for number in range(1, args.n + 1):
        try:
            channel.wait_image(args.t)
        except VelomarkTimeout as error:
            raise VelomarkTimeout("image %d of %d: %s" % (number, args.n, error))
        try:
            dib = channel.copy_image()
        finally:
            channel.acknowledge()
        path = os.path.join(args.o, "image-%03d.bmp" % number)
        try:
            with open(path, "wb") as out:
                out.write(bmp_file_bytes(dib))
        except OSError:
            if os.path.exists(path):
                os.remove(path)
            raise
        print(path, flush=True)


def _acquire_stream(channel, args):
    os.makedirs(args.o, exist_ok=True)
    started = time.monotonic()
    pages = 0
    for image in channel.stream(start=True, count=args.n, timeout=args.t):
        with image:
            path = os.path.join(args.o, "image-%03d.bmp" % image.sequence)
            _save_bmp(path, image.dib)
        pages += 1
        ms = round((time.monotonic() - started) * 1000)
        if args.json:
            print(json.dumps({"path": path, "width": image.width, "height": image.height,
                              "bits": image.bits_per_pixel, "xres": image.x_resolution,
                              "yres": image.y_resolution, "bytes": image.size, "ms": ms}),
                  flush=True)
        else:
            print(path, flush=True)
            print("page %d: %d x %d, %.1f MB" % (image.sequence, image.width, image.height,
                                                 image.size / 1e6), file=sys.stderr)
    if args.json:
        print(json.dumps({"end": True, "pages": pages,
                          "ms": round((time.monotonic() - started) * 1000)}),
              flush=True)
    if pages == 0:
        raise NoPagesError("the source ended with no pages")


def _select(channel, args):
    channel.check_running()
    channel.request(STATUS_SELECT_SOURCE)
    channel.wait_status_change(STATUS_SELECT_SOURCE, args.t)
    print("Velomark took the request to select a source")


_STATUS_NAMES = {STATUS_IDLE: "idle", STATUS_SELECT_SOURCE: "select source requested",
                 STATUS_ACQUIRE: "acquire requested", STATUS_IMAGE_READY: "image ready"}


def _parser():
    def count(text):
        value = int(text)
        if not 0 <= value <= 100000:
            raise ValueError(text)
        return value

    def seconds(text):
        value = float(text)
        if not 0 <= value <= 86400:
            raise ValueError(text)
        return value

    parser = argparse.ArgumentParser(
        prog="velomark_client.py",
        description="Takes images from a running Velomark through its shared sections "
                    "and socket.",
        epilog="Exit codes: 0 success, 1 failure, 2 bad arguments, 3 Velomark is not "
               "running, 4 timed out, 5 Velomark refused the command, 6 the source ended "
               "with no pages (--stream).")
    actions = parser.add_subparsers(dest="action", required=True)
    select = actions.add_parser("select", help="ask Velomark to let the user choose a source")
    select.add_argument("-t", type=seconds, default=10.0, help="seconds to wait (default 10)")
    acquire = actions.add_parser("acquire", help="acquire and save images as BMP files")
    acquire.add_argument("-n", type=count, default=None,
                         help="number of images (default 1; with --stream 0, every image "
                              "of the acquisition)")
    acquire.add_argument("-o", default=".", help="output folder (default: current)")
    acquire.add_argument("-t", type=seconds, default=30.0,
                         help="seconds to wait for each image (default 30)")
    acquire.add_argument("--stream", action="store_true",
                         help="take the images over the command socket, each as it arrives")
    acquire.add_argument("--json", action="store_true",
                         help="with --stream: one JSON line per image, then a final line")
    command = actions.add_parser("command", help="send a command text, print the reply")
    command.add_argument("text")
    command.add_argument("-t", type=seconds, default=10.0, help="seconds to wait (default 10)")
    actions.add_parser("status", help="print the status word")
    actions.add_parser("get-text", help="print the text at the start of the data block")
    set_text = actions.add_parser("set-text", help="write a text to the data block")
    set_text.add_argument("text")
    return parser


def main(argv=None):
    args = _parser().parse_args(argv)
    if args.action == "command" and len(args.text.encode("utf-8")) > COMMAND_TEXT_MAX:
        print("velomark_client.py: a command text has at most %d bytes" % COMMAND_TEXT_MAX,
              file=sys.stderr)
        return EXIT_USAGE
    if args.action == "acquire":
        if args.n is None:
            args.n = 0 if args.stream else 1
        if (args.n == 0 and not args.stream) or (args.json and not args.stream):
            print("velomark_client.py: acquire: -n 0 and --json need --stream", file=sys.stderr)
            return EXIT_USAGE
    try:
        with Channel() as channel:
            if args.action == "acquire" and args.stream:
                _acquire_stream(channel, args)
            elif args.action == "acquire":
                _acquire(channel, args)
            elif args.action == "select":
                _select(channel, args)
            elif args.action == "command":
                print(channel.command(args.text, args.t))
            elif args.action == "status":
                value = channel.status()
                print("%d (%s)" % (value, _STATUS_NAMES.get(value, "unknown")))
            elif args.action == "get-text":
                print(channel.get_text())
            elif args.action == "set-text":
                channel.set_text(args.text)
    except VelomarkError as error:
        print("velomark_client.py: %s: %s" % (args.action, error), file=sys.stderr)
        return error.exit_code
    except OSError as error:
        print("velomark_client.py: %s: %s" % (args.action, error), file=sys.stderr)
        return EXIT_FAILED
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
