// The tags a connection has taken but not yet handed to its RTMP element, oldest first.
// They wait here rather than in the element's own queue so that pictures still waiting
// can be left out, in whole groups, when the connection falls behind: sound and stream
// headers stay. Not thread-safe: its sender guards it.
#pragma once

#include "castorn/FlvTag.h"

#include <gst/gst.h>

#include <cstddef>
#include <deque>

namespace castorn {

class TagQueue {
public:
    TagQueue() = default;
    ~TagQueue();
    TagQueue(const TagQueue&) = delete;
    TagQueue& operator=(const TagQueue&) = delete;

    void Add(GstSample* tag, FlvTagKind kind);  // takes the reference
    GstSample* Take();                          // the oldest, handed over; null when empty
    // Leaves out every video frame waiting; how many there were.
    int DropVideo();
    std::size_t Bytes() const { return m_bytes; }
    bool Empty() const { return m_tags.empty(); }

private:
    struct Tag {
        GstSample* sample;
        FlvTagKind kind;
        std::size_t bytes;
    };

    std::deque<Tag> m_tags;
    std::size_t m_bytes = 0;
};

}  // namespace castorn
