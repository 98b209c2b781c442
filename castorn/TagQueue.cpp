#include "castorn/TagQueue.h"

#include <algorithm>

namespace castorn {

TagQueue::~TagQueue()
{
    for (const Tag& tag : m_tags) gst_sample_unref(tag.sample);
}

void TagQueue::Add(GstSample* tag, FlvTagKind kind)
{
    const std::size_t bytes = gst_buffer_get_size(gst_sample_get_buffer(tag));
    m_tags.push_back({tag, kind, bytes});
    m_bytes += bytes;
}

GstSample* TagQueue::Take()
{
    if (m_tags.empty()) return nullptr;
    const Tag tag = m_tags.front();
    m_tags.pop_front();
    m_bytes -= tag.bytes;
    return tag.sample;
}

int TagQueue::DropVideo()
{
    int dropped = 0;
    const auto kept =
        std::stable_partition(m_tags.begin(), m_tags.end(), [](const Tag& tag) { return !IsVideo(tag.kind); });
    for (auto tag = kept; tag != m_tags.end(); ++tag) {
        m_bytes -= tag->bytes;
        gst_sample_unref(tag->sample);
        ++dropped;
    }
    m_tags.erase(kept, m_tags.end());
    return dropped;
}

}  // namespace castorn
