#include "engine/ReplyBuffer.h"

#include <cstring>

ReplyBuffer::ReplyBuffer() : m_storage(new char[kCommandReplySize]), m_pReply(m_storage.get())
{
    // An engine that answers nothing must not leave garbage to be read as a reply.
    m_storage[0] = '\0';
}

void ReplyBuffer::Clear()
{
    std::memset(m_storage.get(), 0, kCommandReplySize);
}

std::string ReplyBuffer::Text() const
{
    if (!m_pReply) return {};
    return std::string(m_pReply, strnlen(m_pReply, kCommandReplySize));
}
