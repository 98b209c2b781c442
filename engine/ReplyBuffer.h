// The 1024-byte buffer a handler hands to ExecuteCommand for the engine's reply.
#pragma once

#include "interface/EngineInterface.h"

#include <memory>
#include <string>

class ReplyBuffer {
public:
    ReplyBuffer();

    // What ExecuteCommand receives: the engine may write into the buffer or
    // point the variable at text of its own.
    char** Address() { return &m_pReply; }
    void Clear();
    // The reply up to its first NUL, never past the buffer's size.
    std::string Text() const;

private:
    std::unique_ptr<char[]> m_storage;
    char* m_pReply;
};
