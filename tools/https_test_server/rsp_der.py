"""A small BER-TLV/DER codec for the test SM-DP+ and SM-DS.

Tags of one or more bytes (a first byte whose low five bits are 11111 is
followed by bytes up to one without the high bit), definite lengths of up to
four length bytes, minimal encoding. Written for the test server alone; it
shares nothing with the engine's or the simulator's codec.
"""


class DerError(ValueError):
    pass


def encode_tag(tag):
    if tag < 0:
        raise DerError("negative tag")
    return tag.to_bytes(max(1, (tag.bit_length() + 7) // 8), "big")


def encode_length(length):
    if length < 0x80:
        return bytes([length])
    raw = length.to_bytes((length.bit_length() + 7) // 8, "big")
    if len(raw) > 4:
        raise DerError("length too large")
    return bytes([0x80 | len(raw)]) + raw


def tlv(tag, *parts):
    """Tag, length and the concatenation of the parts (bytes)."""
    value = b"".join(parts)
    return encode_tag(tag) + encode_length(len(value)) + value


def read_tlv(data, pos=0):
    """Reads one TLV at pos: (tag, value, next position)."""
    if pos >= len(data):
        raise DerError("no tag at %d" % pos)
    start = pos
    first = data[pos]
    pos += 1
    if first & 0x1F == 0x1F:
        while True:
            if pos >= len(data):
                raise DerError("tag runs past the end")
            byte = data[pos]
            pos += 1
            if not byte & 0x80:
                break
            if pos - start > 3:
                raise DerError("tag too long")
    tag = int.from_bytes(data[start:pos], "big")
    if pos >= len(data):
        raise DerError("no length for tag %X" % tag)
    lead = data[pos]
    pos += 1
    if lead < 0x80:
        length = lead
    elif lead == 0x80 or lead > 0x84:
        raise DerError("unsupported length form %02X" % lead)
    else:
        count = lead & 0x7F
        if pos + count > len(data):
            raise DerError("length runs past the end")
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + length > len(data):
        raise DerError("value of tag %X runs past the end" % tag)
    return tag, bytes(data[pos:pos + length]), pos + length


def parse_all(data):
    """All TLVs of the buffer, in order, as (tag, value); trailing bytes fail."""
    items = []
    pos = 0
    while pos < len(data):
        tag, value, pos = read_tlv(data, pos)
        items.append((tag, value))
    return items


def parse_single(data, tag=None):
    """The value of the one TLV that fills data (of the given tag, if any)."""
    found, value, end = read_tlv(data, 0)
    if end != len(data):
        raise DerError("trailing bytes after tag %X" % found)
    if tag is not None and found != tag:
        raise DerError("tag %X where %X was expected" % (found, tag))
    return value


def find(items, tag):
    """The value of the first item with the tag, or None."""
    for found, value in items:
        if found == tag:
            return value
    return None


def read_integer(value):
    """The DER INTEGER of this content: two's complement, minimal, 1 to 8 bytes."""
    if not 1 <= len(value) <= 8:
        raise DerError("INTEGER of %d bytes" % len(value))
    if len(value) > 1 and ((value[0] == 0x00 and value[1] < 0x80) or (value[0] == 0xFF and value[1] >= 0x80)):
        raise DerError("INTEGER not minimal")
    return int.from_bytes(value, "big", signed=True)


def fields(data, layout):
    """The values of a SEQUENCE content read against its layout, a list of
    (tag, name, mandatory): each field at most once and in layout order.
    With "..." last the type is extensible: fields of other tags may follow
    the last one. Missing optional fields are None."""
    extensible = layout[-1] == "..."
    layout = [f for f in layout if f != "..."]
    known = {tag for tag, _, _ in layout}
    out = {name: None for _, name, _ in layout}
    pos = 0
    for tag, value in parse_all(data):
        if extensible and tag not in known:
            at = len(layout)  # an extension: the root fields end here
        else:
            at = next((i for i in range(pos, len(layout)) if layout[i][0] == tag), None)
            if at is None:
                raise DerError("unexpected tag %X" % tag)
        missing = [name for _, name, mandatory in layout[pos:at] if mandatory]
        if missing:
            raise DerError("%s missing" % missing[0])
        if at < len(layout):
            out[layout[at][1]] = value
            pos = at + 1
        else:
            pos = at
    missing = [name for _, name, mandatory in layout[pos:] if mandatory]
    if missing:
        raise DerError("%s missing" % missing[0])
    return out


def certificate_extension(certificate, oid):
    """The extnValue content of the extension with this OID (content bytes)."""
    parts = parse_all(parse_single(certificate, 0x30))
    if not parts or parts[0][0] != 0x30:
        raise DerError("no tbsCertificate")
    extensions = find(parse_all(parts[0][1]), 0xA3)
    if extensions is None:
        raise DerError("no extensions")
    for tag, extension in parse_all(parse_single(extensions, 0x30)):
        items = parse_all(extension)
        if tag == 0x30 and len(items) >= 2 and items[0] == (0x06, oid) and items[-1][0] == 0x04:
            return items[-1][1]
    return None


def subject_key_id(certificate):
    """The subject key identifier of a DER certificate."""
    value = certificate_extension(certificate, bytes.fromhex("551D0E"))
    if value is None:
        raise DerError("no subject key identifier")
    return parse_single(value, 0x04)


def iccid_bytes(digits):
    """ICCID digits to their card form: nibble-swapped BCD, padded with F."""
    if len(digits) % 2:
        digits += "F"
    return bytes(int(digits[i + 1] + digits[i], 16) for i in range(0, len(digits), 2))


def iccid_digits(raw):
    text = "".join("%X%X" % (b & 0x0F, b >> 4) for b in raw)
    return text.rstrip("F")
