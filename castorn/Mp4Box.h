// The bytes of MP4 boxes: big-endian fields read with their bounds checked, boxes
// listed one after another, and boxes written with their sizes filled in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace castorn {

std::uint64_t BigEndian(const unsigned char* bytes, int count);

struct Mp4Box {
    std::string type;
    std::uint64_t at = 0;      // where the box begins, in the bytes or the file it is in
    std::uint64_t header = 0;  // 8, or 16 for a 64-bit size
    std::uint64_t size = 0;    // the whole box
    std::uint64_t PayloadAt() const { return at + header; }
    std::uint64_t End() const { return at + size; }
};

// The header of the box whose first bytes (up to 16) are `head`, found at `at` among
// `room` bytes: false when it does not fit there.
bool ReadBoxHeader(std::string_view head, std::uint64_t at, std::uint64_t room, Mp4Box& box);

// The boxes inside `box` (its bytes from its header on), placed from its start;
// false when one does not fit.
bool ChildBoxes(std::string_view box, std::vector<Mp4Box>& children);
// The first box of that type among `boxes`, or null.
const Mp4Box* FindBox(const std::vector<Mp4Box>& boxes, std::string_view type);
inline std::string_view BoxBytes(std::string_view bytes, const Mp4Box& box)
{
    return bytes.substr(box.at, box.size);
}
// What follows the header of `box` (a full box's version and flags among it).
std::string_view Payload(std::string_view box);

// Fields read one after another; past the end, zeros, and ok() is false from then on.
class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : m_bytes(bytes) {}
    std::uint64_t Read(int count);
    std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }
    void Skip(std::size_t count);
    std::size_t Left() const { return m_ok ? m_bytes.size() - m_at : 0; }
    bool ok() const { return m_ok; }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_ok = true;
};

class BoxWriter {
public:
    void Begin(std::string_view type);
    // A full box: version and flags follow the type.
    void BeginFull(std::string_view type, std::uint8_t version, std::uint32_t flags);
    void End();
    void Put(std::uint64_t value, int count);
    void U32(std::uint32_t value) { Put(value, 4); }
    void Append(std::string_view bytes) { m_bytes.append(bytes); }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    std::vector<std::size_t> m_open;
};

}  // namespace castorn
