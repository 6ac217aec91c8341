// A fixed-size, lock-protected ring of bytes. The DVD stream keeps disc data
// in one until the engine asks for it; a producer and a consumer on
// different threads may share a ring because every operation takes the lock
// for its whole duration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace korvane {

class TCircularBuffer
{
public:
    // Allocates and zero-fills capacity bytes; the ring starts empty.
    explicit TCircularBuffer(size_t capacity);
    TCircularBuffer(const TCircularBuffer&) = delete;
    TCircularBuffer& operator=(const TCircularBuffer&) = delete;

    size_t Capacity() const { return m_capacity; }

    // Empties the ring.
    void Reset();
    // Bytes held.
    size_t DataSize() const;
    // Room left. A write must be strictly smaller than this, so a ring of
    // capacity N holds at most N - 1 bytes.
    size_t FreeSpace() const;

    // Takes count bytes into destination. With fewer bytes held, takes
    // nothing and returns false.
    bool Read(void* destination, size_t count);
    // Stores length bytes. Unless length < FreeSpace(), stores nothing and
    // returns false; the caller decides what to do with the data.
    bool Write(const void* source, size_t length);

private:
    // Both expect m_lock to be held.
    size_t DataSizeLocked() const;
    size_t FreeSpaceLocked() const;

    mutable std::mutex m_lock;
    std::unique_ptr<uint8_t[]> m_data; // guarded by m_lock
    const size_t m_capacity;
    size_t m_head = 0; // next write index; guarded by m_lock
    size_t m_tail = 0; // next read index, may rest at m_capacity; guarded by m_lock
};

} // namespace korvane
