"""The sound data of an FLV file, read in one pass over the whole file.

Written apart from the program's own incremental extractor, from the FLV layout alone, so
that an end-to-end run can check the program's MP3 against something it did not make.
"""

FLV_SIGNATURE = b"FLV"
HEADER_SIZE_OFFSET = 5
PREVIOUS_TAG_SIZE_BYTES = 4
TAG_HEADER_BYTES = 11
TAG_TYPE_MASK = 0x1F
AUDIO_TAG = 8
# The first byte of an audio tag's data describes the sound; the rest is the sound itself.
SOUND_FORMAT_BYTES = 1


def extract_sound(flv: bytes) -> bytes:
    if len(flv) < HEADER_SIZE_OFFSET + 4 or not flv.startswith(FLV_SIGNATURE):
        raise ValueError("not an FLV file")
    pos = int.from_bytes(flv[HEADER_SIZE_OFFSET:HEADER_SIZE_OFFSET + 4], "big")
    sound = bytearray()
    while True:
        pos += PREVIOUS_TAG_SIZE_BYTES
        header = flv[pos:pos + TAG_HEADER_BYTES]
        if len(header) < TAG_HEADER_BYTES:
            return bytes(sound)
        size = int.from_bytes(header[1:4], "big")
        data = flv[pos + TAG_HEADER_BYTES:pos + TAG_HEADER_BYTES + size]
        if len(data) < size:
            return bytes(sound)
        if header[0] & TAG_TYPE_MASK == AUDIO_TAG and size >= SOUND_FORMAT_BYTES:
            sound += data[SOUND_FORMAT_BYTES:]
        pos += TAG_HEADER_BYTES + size
