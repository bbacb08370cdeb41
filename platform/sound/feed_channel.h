// How the UI thread and a stream's thread share a feed without a lock that
// either could hold while the other waits: the UI thread's requests go
// through a bounded queue that the stream's thread drains before it renders
// (RequestQueue), and the stream's thread publishes what the UI thread
// reads as one consistent copy (PublishedValue). One producer and one
// consumer each; neither side ever waits on the other. A reader may retry
// a copy the writer overwrote meanwhile; the writer never retries. Nothing
// here allocates after construction.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A bounded single-producer single-consumer queue of trivially copyable
// items. push() on the producer's thread, pop() on the consumer's (or on a
// thread that holds a lock the consumer's thread also holds while it pops).
template <typename T, std::size_t Capacity>
class RequestQueue
{
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert((Capacity & (Capacity - 1)) == 0, "a power of two, so the indices wrap");

public:
    // False, changing nothing, when the queue is full.
    bool push(const T &item)
    {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) == Capacity)
            return false;
        m_items[tail & (Capacity - 1)] = item;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // False when the queue is empty.
    bool pop(T &item)
    {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire))
            return false;
        item = m_items[head & (Capacity - 1)];
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> m_items{};
    std::atomic<std::size_t> m_head{0}; // the consumer's
    std::atomic<std::size_t> m_tail{0}; // the producer's
};

// A trivially copyable value that one thread writes and others read whole:
// a sequence lock whose words are atomics, so a reader that races the
// writer sees a torn copy only to throw it away and read again.
template <typename T>
class PublishedValue
{
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);

public:
    explicit PublishedValue(const T &initial) { store(initial); }

    // The writer's thread only.
    void store(const T &value)
    {
        std::array<std::uint64_t, kWords> words{};
        std::memcpy(words.data(), &value, sizeof(T));
        const std::uint32_t sequence = m_sequence.load(std::memory_order_relaxed);
        m_sequence.store(sequence + 1, std::memory_order_relaxed); // odd: being written
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i)
            m_words[i].store(words[i], std::memory_order_relaxed);
        m_sequence.store(sequence + 2, std::memory_order_release);
    }

    // Any thread: the last value stored whole.
    void load(T &value) const
    {
        std::array<std::uint64_t, kWords> words{};
        for (;;) {
            const std::uint32_t before = m_sequence.load(std::memory_order_acquire);
            if (before & 1)
                continue;
            for (std::size_t i = 0; i < kWords; ++i)
                words[i] = m_words[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_sequence.load(std::memory_order_relaxed) == before)
                break;
        }
        std::memcpy(&value, words.data(), sizeof(T));
    }

private:
    std::atomic<std::uint32_t> m_sequence{0};
    std::array<std::atomic<std::uint64_t>, kWords> m_words{};
};
