#include "sources/CircularBuffer.h"

#include <cstring>

namespace korvane {

TCircularBuffer::TCircularBuffer(size_t capacity) : m_data(new uint8_t[capacity]()), m_capacity(capacity) {}

void TCircularBuffer::Reset()
{
    std::lock_guard guard(m_lock);
    m_head = m_tail = 0;
}

size_t TCircularBuffer::DataSize() const
{
    std::lock_guard guard(m_lock);
    return DataSizeLocked();
}

size_t TCircularBuffer::FreeSpace() const
{
    std::lock_guard guard(m_lock);
    return FreeSpaceLocked();
}

size_t TCircularBuffer::DataSizeLocked() const
{
    if (m_head == m_tail)
        return 0;
    if (m_head > m_tail)
        return m_head - m_tail;
    return m_capacity - m_tail + m_head;
}

size_t TCircularBuffer::FreeSpaceLocked() const
{
    if (m_head == m_tail)
        return m_capacity;
    if (m_tail > m_head)
        return m_tail - m_head;
    return m_capacity - m_head + m_tail;
}

bool TCircularBuffer::Read(void* destination, size_t count)
{
    std::lock_guard guard(m_lock);
    if (DataSizeLocked() < count)
        return false;
    auto* out = static_cast<uint8_t*>(destination);
    if (m_tail + count > m_capacity) {
        // the tail may rest at m_capacity after a read that ended exactly at
        // the end of the block: then the first part is empty and all comes
        // from index 0
        const size_t first = m_capacity - m_tail;
        std::memcpy(out, m_data.get() + m_tail, first);
        std::memcpy(out + first, m_data.get(), count - first);
        m_tail = count - first;
    } else {
        std::memcpy(out, m_data.get() + m_tail, count);
        m_tail += count;
    }
    return true;
}

bool TCircularBuffer::Write(const void* source, size_t length)
{
    std::lock_guard guard(m_lock);
    if (length >= FreeSpaceLocked())
        return false;
    const auto* in = static_cast<const uint8_t*>(source);
    if (m_head + length >= m_capacity) {
        const size_t first = m_capacity - m_head;
        std::memcpy(m_data.get() + m_head, in, first);
        std::memcpy(m_data.get(), in + first, length - first);
        m_head = length - first;
    } else {
        std::memcpy(m_data.get() + m_head, in, length);
        m_head += length;
    }
    return true;
}

} // namespace korvane
