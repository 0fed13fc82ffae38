#pragma once

// A ring of float samples between one producer thread (the sound server's
// callback) and one consumer thread (the analysis). Neither side locks or
// allocates; all memory is taken when the ring is made.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pulsaro {

class SampleRing {
public:
    // Room for at least `minCapacity` samples, rounded up to a power of two.
    explicit SampleRing(std::size_t minCapacity)
        : capacity_(std::bit_ceil(std::max<std::size_t>(minCapacity, 2))),
          mask_(capacity_ - 1),
          samples_(std::make_unique<float[]>(capacity_)) {}

    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    std::size_t capacity() const { return capacity_; }

    // The producer: appends what fits and returns how many samples that was;
    // the rest is dropped and counted.
    std::size_t write(std::span<const float> samples) {
        const std::size_t n = reserve(samples.size());
        const std::uint64_t at = written_.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < n; ++i) {
            samples_[(at + i) & mask_] = samples[i];
        }
        written_.store(at + n, std::memory_order_release);
        return n;
    }

    // The producer: appends `count` zeros, as write() does.
    std::size_t writeZeros(std::size_t count) {
        const std::size_t n = reserve(count);
        const std::uint64_t at = written_.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < n; ++i) {
            samples_[(at + i) & mask_] = 0.0f;
        }
        written_.store(at + n, std::memory_order_release);
        return n;
    }

    // The consumer: moves up to out.size() samples into out, oldest first,
    // and returns how many.
    std::size_t read(std::span<float> out) {
        const std::uint64_t from = read_.load(std::memory_order_relaxed);
        const std::uint64_t until = written_.load(std::memory_order_acquire);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(until - from, out.size()));
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = samples_[(from + i) & mask_];
        }
        read_.store(from + n, std::memory_order_release);
        return n;
    }

    // The consumer: forgets every sample before `position` (a value that
    // written() gave), as if they had been read.
    void skipTo(std::uint64_t position) {
        const std::uint64_t from = read_.load(std::memory_order_relaxed);
        const std::uint64_t until = written_.load(std::memory_order_acquire);
        read_.store(std::clamp(position, from, until), std::memory_order_release);
    }

    // Samples ever written, and ever dropped for want of room. Any thread.
    std::uint64_t written() const { return written_.load(std::memory_order_acquire); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    // How many of `wanted` samples fit now; counts the others as dropped.
    std::size_t reserve(std::size_t wanted) {
        const std::uint64_t used =
            written_.load(std::memory_order_relaxed) - read_.load(std::memory_order_acquire);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_ - used, wanted));
        if (n < wanted) {
            dropped_.store(dropped_.load(std::memory_order_relaxed) + (wanted - n),
                           std::memory_order_relaxed);
        }
        return n;
    }

    const std::size_t capacity_;
    const std::size_t mask_;
    const std::unique_ptr<float[]> samples_;
    // Running counts of samples, never wrapped; the slot is the count masked.
    // Each is stored by one side only.
    alignas(64) std::atomic<std::uint64_t> written_{0};
    alignas(64) std::atomic<std::uint64_t> read_{0};
    alignas(64) std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace pulsaro
