#include "castorn/Mp4Box.h"

#include <algorithm>

namespace castorn {

std::uint64_t BigEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

bool ReadBoxHeader(std::string_view head, std::uint64_t at, std::uint64_t room, Mp4Box& box)
{
    if (head.size() < 8 || room < 8) return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
    box.at = at;
    box.type.assign(head.data() + 4, 4);
    box.header = 8;
    box.size = BigEndian(bytes, 4);
    if (box.size == 1) {
        if (head.size() < 16) return false;
        box.header = 16;
        box.size = BigEndian(bytes + 8, 8);
    } else if (box.size == 0) {
        box.size = room;  // to the end
    }
    return box.size >= box.header && box.size <= room;
}

std::string_view Payload(std::string_view box)
{
    const std::size_t header =
        box.size() >= 16 && BigEndian(reinterpret_cast<const unsigned char*>(box.data()), 4) == 1 ? 16 : 8;
    return box.size() < header ? std::string_view() : box.substr(header);
}

bool ChildBoxes(std::string_view box, std::vector<Mp4Box>& children)
{
    children.clear();
    for (std::uint64_t at = box.size() - Payload(box).size(); at < box.size();) {
        Mp4Box& child = children.emplace_back();
        if (!ReadBoxHeader(box.substr(at, 16), at, box.size() - at, child)) return false;
        at = child.End();
    }
    return true;
}

const Mp4Box* FindBox(const std::vector<Mp4Box>& boxes, std::string_view type)
{
    const auto found = std::ranges::find_if(boxes, [type](const Mp4Box& box) { return box.type == type; });
    return found == boxes.end() ? nullptr : &*found;
}

std::uint64_t ByteReader::Read(int count)
{
    if (!m_ok || m_bytes.size() - m_at < static_cast<std::size_t>(count)) {
        m_ok = false;
        return 0;
    }
    const std::uint64_t value = BigEndian(reinterpret_cast<const unsigned char*>(m_bytes.data() + m_at), count);
    m_at += static_cast<std::size_t>(count);
    return value;
}

void ByteReader::Skip(std::size_t count)
{
    if (m_ok && m_bytes.size() - m_at >= count)
        m_at += count;
    else
        m_ok = false;
}

void BoxWriter::Begin(std::string_view type)
{
    m_open.push_back(m_bytes.size());
    U32(0);  // the size, once the box ends
    m_bytes.append(type.substr(0, 4));
}

void BoxWriter::BeginFull(std::string_view type, std::uint8_t version, std::uint32_t flags)
{
    Begin(type);
    U32(std::uint32_t{version} << 24 | (flags & 0xffffff));
}

void BoxWriter::End()
{
    const std::size_t at = m_open.back();
    m_open.pop_back();
    const std::uint64_t size = m_bytes.size() - at;
    for (int i = 0; i < 4; ++i) m_bytes[at + i] = static_cast<char>(size >> (24 - 8 * i) & 0xff);
}

void BoxWriter::Put(std::uint64_t value, int count)
{
    for (int i = count - 1; i >= 0; --i) m_bytes.push_back(static_cast<char>(value >> (8 * i) & 0xff));
}

}  // namespace castorn
