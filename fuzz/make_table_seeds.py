#!/usr/bin/env python3
"""Writes the table fuzzer's seed programs into fuzz/corpus/table/.

table_fuzz reads every value as whole bytes from the end of its input, so a
program is written here in reading order and reversed. The reads mirror
fuzz/table/: a slot number and its arguments (session.cpp), and for every
exchange the port's flags (at SetReplyCheck) and its answer (at SendAndReceive,
fuzz_port.cpp).
"""
import os
import sys

TYPES = "aRBJQ3"
STATUS = "0123456789ABC"
RECREATE = 27


class Program:
    def __init__(self):
        self.reads = []

    def u8(self, v):
        self.reads.append(v & 0xFF)

    def u16(self, v):
        self.reads += [(v >> 8) & 0xFF, v & 0xFF]

    def u32(self, v):
        self.reads += [(v >> s) & 0xFF for s in (24, 16, 8, 0)]

    def arg(self, v):
        v &= 0xFFFFFFFF
        if v < 0xF0:
            self.u8(v)
        else:
            self.u8(0xF0)
            self.u32(v)

    def pool(self, index):  # fuzz/table/program.h's kPool
        self.u8(index)

    def hundredths(self, v):
        self.u8(0x20)
        self.u16(v)

    def setting(self, v):
        if -16 <= v < 0xF0 - 16:
            self.u8(v + 16)
        else:
            self.u8(0xF0)
            self.u32(v)

    # Slots.
    def slot(self, op, *args):
        self.u8(op)
        for a in args:
            self.arg(a)

    def settings(self, sdec, pdec, mono):
        self.u8(RECREATE)
        self.u8(1)
        for v in (sdec, pdec, mono):
            self.setting(v)

    # Answers of the port, one per exchange.
    def field(self, value, decimals):
        self.u8(decimals)
        self.u32(value)

    def reply(self, letter, data=(), address=None, flags=0, damage=0, result=None):
        self.u8(flags | (16 if result is not None else 0))
        self.u8(3)
        self.u8(0xC0 | address if address is not None else 0)
        self.u8(TYPES.index(letter))
        if letter in "aR":
            txn, state, amount, volume = data
            self.u8(txn >> 8)
            self.u8(txn & 0xFF)
            self.u8(ord(state))
            self.field(*amount)
            self.field(*volume)
        elif letter == "B":
            volume, amount = data
            self.u8(0)
            self.field(*volume)
            self.field(*amount)
        elif letter == "J":
            for c in data:
                self.u8(STATUS.index(c))
        elif letter == "Q":
            self.u8(ord(data))
        elif letter == "3":
            for c in data:
                self.u8(ord(c))
        self.u8(damage)
        if result is not None:
            self.arg(result)

    def other_reply(self, letter_byte, raw):
        """A frame of a type the driver files nowhere (not one of TYPES)."""
        assert chr(letter_byte) not in TYPES and letter_byte >= len(TYPES)
        self.u8(0)
        self.u8(3)
        self.u8(0)
        self.u8(letter_byte)
        self.u8(len(raw))
        for b in raw:
            self.u8(b)
        self.u8(0)

    def silence(self, result=5):
        self.u8(16)
        self.u8(0)
        self.arg(result)

    def port_raises(self, line_result):
        self.u8(0)
        self.u8(1)
        self.arg(line_result)

    def ok(self, n=1):
        for _ in range(n):
            self.reply("Q", "0")

    def bytes(self):
        return bytes(reversed(self.reads))


def fuelling_cycle():
    p = Program()
    p.slot(21, 1, 1, 1)  # the first poll programs three parameters
    p.ok(3)
    p.reply("J", "100000")
    p.slot(11, 1, 1, 1)
    p.hundredths(5000)  # price 50.00
    p.ok()
    p.slot(14, 1, 1, 1)
    p.hundredths(500)  # preset 5.00
    p.ok()
    p.slot(21, 1, 1, 1)
    p.reply("J", "300000")
    p.slot(10, 1, 1)
    p.reply("R", (1, "1", (250, 2), (5, 2)))
    p.slot(21, 1, 1, 1)
    p.reply("a", (1, "0", (500, 2), (10, 2)))  # ended: acknowledged
    p.ok()
    p.slot(6, 1, 1)
    p.slot(9, 1, 1)
    p.slot(7, 1, 1, 1)
    p.reply("B", ((123456, 2), (6172800, 2)))
    p.ok()
    p.slot(21, 1, 1, 1)
    p.reply("J", "000000")
    return p


def price_change():
    p = Program()
    p.slot(11, 1, 2, 2)
    p.hundredths(712)
    p.ok()
    p.slot(11, 1, 2, 2)  # the same digits: nothing sent
    p.hundredths(712)
    p.slot(11, 1, 2, 4)
    p.hundredths(9999)
    p.ok()
    p.slot(13, 1, 2, 2)
    p.hundredths(2000)
    p.ok()
    p.slot(21, 1, 2, 4)
    p.ok(3)
    p.reply("J", "030000")
    p.slot(10, 1, 2)
    p.reply("R", (7, "2", (14240, 2), (2000, 2)))
    p.slot(6, 1, 2)
    return p


def settings_change():
    p = Program()
    p.settings(3, 0, 1)
    p.slot(21, 1, 1, 1)
    p.ok(3)
    p.reply("J", "100000")
    p.slot(11, 1, 1, 1)
    p.pool(12)  # 1.115
    p.ok()
    p.slot(14, 1, 1, 1)
    p.pool(20)  # 60.0, the mono-product start
    p.ok()
    p.slot(21, 1, 1, 1)
    p.reply("J", "000000")
    p.settings(7, -1, 0)
    p.slot(21, 1, 3, 1)
    p.ok(3)
    p.reply("J", "000000")
    p.slot(14, 1, 3, 1)
    p.pool(17)  # 12.5
    p.ok()
    p.settings(258, 2**31 - 1, 0)
    p.slot(21, 1, 1, 6)
    p.ok(3)
    p.reply("J", "A00000")  # an ended status is acknowledged
    p.ok()
    return p


def stray_replies():
    p = Program()
    p.slot(7, 1, 3, 1)
    p.reply("B", ((1050, 1), (52500, 1)), address=3)
    p.ok()
    p.slot(7, 1, 3, 2)  # answered by a status: nozzle 1's totals stay unread
    p.reply("J", "000000")
    p.slot(7, 1, 3, 2)
    p.reply("B", ((9900, 1), (495000, 1)), address=4)
    p.slot(10, 1, 1)
    p.reply("a", (0x777, "0", (50000, 2), (250, 2)), address=2)
    p.slot(18, 1, 4, 40, 2)
    p.reply("a", (0x778, "0", (50000, 2), (250, 2)))
    p.slot(5, 1)
    p.reply("R", (3, "1", (100, 2), (2, 2)), address=5)
    p.slot(10, 1, 5)
    p.reply("J", "A00000")
    p.reply("a", (0x779, "0", (100, 2), (2, 2)), address=5)  # to the acknowledgement
    p.slot(17, 1, 5, 40)
    p.reply("3", "4002")
    p.slot(17, 1, 6, 41)
    p.reply("3", "4002")
    return p


def bad_arguments():
    p = Program()
    p.slot(0)
    p.slot(21, 0, 1, 1)
    p.slot(21, 1, 1, 7)
    p.slot(11, 1, 33, 1)
    p.pool(0)  # NaN
    p.slot(11, 1, 1, 1)
    p.pool(1)  # infinity
    p.slot(13, 41, 1, 1)
    p.pool(3)  # -0
    p.slot(14, 1, 1, 0x107)
    p.pool(5)
    p.slot(18, 1, 1, 100, 0)
    p.slot(17, 1, 1, -1)
    p.slot(6, -1, 1)
    p.slot(22, 0x101, 1, 0, 1)
    p.slot(4, 1, -1, 1)
    p.slot(4, 1, 99, 0)  # no stop asked: nothing to refuse
    p.slot(7, 1, 1, 0x100)
    p.slot(10, 1, 0x120)
    return p


def failing_port():
    p = Program()
    p.slot(10, 1, 1)
    p.port_raises(7)
    p.slot(10, 1, 1)
    p.silence(0)
    p.slot(5, 2)
    p.u8(1)  # SetReplyCheck raises
    p.slot(3, 1)
    p.u8(1)  # forwarded: GetRxState raises
    p.slot(16, 1)
    p.u8(0)
    p.slot(10, 1, 2)
    p.reply("J", "000300", flags=4)  # GetRxState raises after the reply
    p.slot(7, 1, 2, 1)
    p.reply("B", ((5, 0), (7, 0)), damage=1)  # a bad CRC
    p.slot(10, 1, 2)
    p.other_reply(ord("."), b"\x16\x16\x02")
    p.slot(24)
    p.slot(20, 9)
    p.slot(1)
    return p


def totals_answered_by_no_totals():
    """What the table fuzzer found: the pump's totals of nozzle 1 handed out
    for nozzle 3, whose request the pump answered with a frame of no type."""
    p = Program()
    p.slot(7, 1, 1, 1)
    p.reply("B", ((1050, 1), (52500, 1)))
    p.ok()
    p.slot(7, 1, 1, 3)
    p.other_reply(ord("."), b"")
    return p


SEEDS = {
    "fuelling_cycle": fuelling_cycle,
    "price_change": price_change,
    "settings_change": settings_change,
    "stray_replies": stray_replies,
    "bad_arguments": bad_arguments,
    "failing_port": failing_port,
    "totals_answered_by_no_totals": totals_answered_by_no_totals,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__),
                                                             "corpus", "table")
    os.makedirs(out, exist_ok=True)
    for name, make in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(make().bytes())


if __name__ == "__main__":
    main()
