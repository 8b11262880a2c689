"""Emulated FTDI chips on an emulated USB bus, for the tool run with the system's real libftdi1 and
libusb. umockdev stands in for the kernel: the tool's process, started with its preload library,
sees the testbed's /sys and /dev only, and every usbdevfs ioctl on a chip's node arrives at that
chip's handler below, in this process. A handler answers as the kernel's usbdevfs would and logs
what the chip saw: "NAME claim I", "NAME release I", "NAME out 0xEP BYTE" (one line per bulk OUT
transfer), "NAME unplugged", "NAME silent".

By hand: umockdev-wrapper /usr/bin/python3 usb_chips.py CHIP... -- COMMAND... plugs in the chips
and runs the command against them, then prints what they saw on standard error.

A chip is a line: its name, then at most one fault:
  busy             claiming an interface fails with EBUSY
  no-permission    the device node has mode 000 (the tool must then run unprivileged)
  unplug-after N   after N bulk OUT transfers the chip is unplugged in the middle of the next
  silent-after N   after N bulk OUT transfers the chip stops answering
"""
import ctypes
import errno
import os
import struct
import subprocess
import sys

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

PRELOAD = "libumockdev-preload.so.0"

# name: (vendor, product, bcdDevice, speed in Mbit/s, bulk max packet, endpoints per interface)
CHIPS = {
    "FT232R": (0x0403, 0x6001, 0x0600, 12, 64, [(0x81, 0x02)]),
    "FT2232H": (0x0403, 0x6010, 0x0700, 480, 512, [(0x81, 0x02), (0x83, 0x04)]),
    "FT232H": (0x0403, 0x6014, 0x0900, 480, 512, [(0x81, 0x02)]),
}

# usbdevfs request numbers (the low byte of the ioctl code)
SUBMITURB, DISCARDURB, REAPURB, REAPURBNDELAY = 10, 11, 12, 13
CLAIMINTERFACE, RELEASEINTERFACE, IOCTL, GETDRIVER, GET_CAPABILITIES = 15, 16, 18, 8, 26
URB = struct.Struct("=BBxxiIxxxxQiiiiiIQ")  # struct usbdevfs_urb without its ISO frames
URB_BULK = 3


def descriptors(chip):
    vendor, product, release, _, packet, interfaces = CHIPS[chip]
    device = struct.pack("<BBHBBBBHHHBBBB", 18, 1, 0x200, 0, 0, 0, 64, vendor, product, release,
                         0, 0, 0, 1)
    body = b""
    for number, endpoints in enumerate(interfaces):
        body += struct.pack("<BBBBBBBBB", 9, 4, number, 0, len(endpoints), 255, 255, 255, 0)
        for endpoint in endpoints:
            body += struct.pack("<BBBBHB", 7, 5, endpoint, 2, packet, 0)
    config = struct.pack("<BBHBBBBB", 9, 2, 9 + len(body), len(interfaces), 1, 0, 0x80, 45)
    return device + config + body


class Chip(UMockdev.IoctlBase):
    def __init__(self, bench, name, fault):
        super().__init__()
        self.bench, self.name = bench, name
        self.fault = fault[0] if fault else None
        self.left = int(fault[1]) if len(fault) > 1 else None
        self.gone = False
        # URBs to reap: (the client's own address of it, status, length); libusb knows a reaped
        # URB only by that address.
        self.done = []

    def log(self, line):
        self.bench.log.append(f"{self.name} {line}")

    def do_handle_ioctl(self, client):
        try:
            result, error = self.answer(client.get_request() & 0xFF, client.get_arg())
        except Exception as problem:  # the tool must never wait on a handler that failed
            self.log(f"handler failed: {problem!r}")
            result, error = -1, errno.EIO
        client.complete(result, error)
        return True

    def answer(self, request, arg):
        if request in (CLAIMINTERFACE, RELEASEINTERFACE):
            number = struct.unpack("=I", bytes(arg.resolve(0, 4).retrieve()))[0]
            self.log(("claim " if request == CLAIMINTERFACE else "release ") + str(number))
        # An unplugged chip still gives back the URBs it had, as the kernel does.
        if self.gone and not (request in (REAPURB, REAPURBNDELAY) and self.done):
            return -1, errno.ENODEV
        if request == GET_CAPABILITIES:
            arg.resolve(0, 4).update(0, list(struct.pack("=I", 0)))
            return 0, 0
        if request in (GETDRIVER, IOCTL):  # no kernel driver bound: nothing to detach
            return -1, errno.ENODATA
        if request in (CLAIMINTERFACE, RELEASEINTERFACE):
            busy = request == CLAIMINTERFACE and self.fault == "busy"
            return (-1, errno.EBUSY) if busy else (0, 0)
        if request == SUBMITURB:
            return self.submit(bytes(arg.retrieve()[:8]), arg.resolve(0, URB.size))
        if request == DISCARDURB:
            self.done.append((bytes(arg.retrieve()[:8]), -errno.ENOENT, 0))
            return 0, 0
        if request in (REAPURB, REAPURBNDELAY):
            if not self.done:
                return -1, errno.EAGAIN
            address, status, length = self.done.pop(0)
            pointer = arg.resolve(0, 8)
            pointer.update(0, list(address))
            urb = pointer.resolve(0, URB.size)
            urb.update(4, list(struct.pack("=i", status)))
            urb.update(28, list(struct.pack("=i", length)))
            return 0, 0
        return -1, errno.ENOTTY

    def submit(self, address, urb):
        kind, endpoint, _, _, _, length = URB.unpack(bytes(urb.retrieve()))[:6]
        status, sent = 0, length - 8 if kind != URB_BULK else length
        if kind == URB_BULK and not endpoint & 0x80:
            if self.left == 0 and self.fault == "silent-after":
                # Never reaped: libusb discards it when libftdi's write times out.
                self.log("silent")
                self.left = None
                return 0, 0
            if self.left == 0 and self.fault == "unplug-after":
                self.log("unplugged")
                self.gone = True
                self.bench.unplug(self)
                status, sent = -errno.ESHUTDOWN, 0
            else:
                data = bytes(urb.resolve(16, length).retrieve())
                for byte in data:
                    self.log(f"out 0x{endpoint:02x} {byte}")
                self.bench.received += data
                self.left = self.left - 1 if self.left else self.left
        self.done.append((address, status, sent))
        return 0, 0


class Bench:
    """The chips of `lines`, plugged in in that order, on a fresh testbed."""

    def __init__(self, lines):
        # Without the preload library the tool would see the machine's real USB devices; it is
        # surely there when this process runs under umockdev-wrapper.
        ctypes.CDLL(PRELOAD, mode=os.RTLD_NOLOAD)
        self.testbed = UMockdev.Testbed.new()
        self.root = self.testbed.get_root_dir()
        self.log, self.received, self.chips = [], bytearray(), []
        self.unprivileged = False
        # The testbed's USB device folder stands for the machine's, even with no chip in it.
        os.makedirs(os.path.join(self.root, "dev", "bus", "usb"))
        for number, line in enumerate(lines, start=2):
            name, *fault = line.split()
            path = f"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-{number - 1}"
            node = f"bus/usb/001/{number:03d}"
            raw = descriptors(name).hex().upper()
            vendor, product, _, speed, _, _ = CHIPS[name]
            self.testbed.add_from_string(
                f"P: {path[4:]}\nN: {node}={raw}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                f"E: DEVNAME=/dev/{node}\nE: BUSNUM=001\nE: DEVNUM={number:03d}\n"
                f"A: busnum=1\\n\nA: devnum={number}\\n\nA: speed={speed}\\n\n"
                f"A: bConfigurationValue=1\\n\nA: idVendor={vendor:04x}\\n\n"
                f"A: idProduct={product:04x}\\n\nH: descriptors={raw}\n")
            chip = Chip(self, name, fault)
            self.testbed.attach_ioctl(f"/dev/{node}", chip)
            self.chips.append((chip, path))
            if fault == ["no-permission"]:
                self.unprivileged = True
                # The tool, run as nobody, makes its udev monitor's socket in the root and
                # connects to the chips' sockets before it opens a node.
                for folder, _, files in os.walk(self.root):
                    for entry in [folder] + [os.path.join(folder, n) for n in files]:
                        os.chmod(entry, 0o777)
                os.chmod(os.path.join(self.root, "dev", node), 0)

    def unplug(self, chip):
        self.testbed.remove_device(next(path for c, path in self.chips if c is chip))

    def close(self):
        """Frees the testbed, whose end removes its folder."""
        for chip, _ in self.chips:
            chip.bench = None
        self.chips = self.testbed = None


def main():
    split = sys.argv.index("--")
    bench = Bench(sys.argv[1:split])
    status = subprocess.call(sys.argv[split + 1:],
                             env=dict(os.environ, UMOCKDEV_DIR=bench.root, LD_PRELOAD=PRELOAD))
    print("\n".join(bench.log), file=sys.stderr)
    bench.close()
    return status


if __name__ == "__main__":
    sys.exit(main())
