#include "wine/files.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace hivedump::wine {

namespace {

constexpr std::uint64_t multiplier = 0xff51afd7ed558ccdu;

std::uint64_t mix(std::uint64_t hash, std::uint64_t word)
{
    hash = (hash ^ word) * multiplier;
    return hash ^ hash >> 29;
}

/// Adds the bytes from `at` on, fewer than a step, and settles the hash.
std::uint64_t finish(std::uint64_t hash, const char* data, std::size_t size, std::size_t at)
{
    for (; at < size; ++at)
        hash = (hash ^ static_cast<unsigned char>(data[at])) * multiplier;
    return hash ^ hash >> 32;
}

/// Tells a block from the one first read at its place: four lanes of eight
/// bytes, so the check costs little beside the read itself.
std::uint64_t fingerprint_words(const char* data, std::size_t size)
{
    std::uint64_t lanes[4] = { 0x9e3779b97f4a7c15u, 0xc2b2ae3d27d4eb4fu, 0x165667b19e3779f9u, 0x27d4eb2f165667c5u };
    std::size_t at = 0;
    for (; at + 32 <= size; at += 32) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            std::uint64_t word;
            std::memcpy(&word, data + at + 8 * lane, 8);
            lanes[lane] = mix(lanes[lane], word);
        }
    }
    std::uint64_t hash = size;
    for (auto lane : lanes)
        hash = (hash ^ lane) * multiplier;
    return finish(hash, data, size, at);
}

#if defined(__x86_64__) && defined(__GNUC__)
/// The same check 64 bytes a step where the processor has AVX2: each word
/// adds the product of its halves, salted by the step so that the sum tells
/// where each byte was, and the word itself, so that no change is lost in a
/// product. The first pass fingerprints every byte it reads.
__attribute__((target("avx2"))) std::uint64_t fingerprint_wide(const char* data, std::size_t size)
{
    __m256i sums[2] = { _mm256_set_epi64x(0x9e3779b97f4a7c15, 0x3c6ef372fe94f82a, 0x165667b19e3779f9, 0x27d4eb2f165667c5),
        _mm256_set_epi64x(0x61c8864680b583eb, 0x2545f4914f6cdd1d, 0x4f1bbcdcbfa53e0a, 0x7a646e4d2fa4c3b9) };
    __m256i salt = _mm256_set_epi64x(0x5851f42d4c957f2d, 0x14057b7ef767814f, 0x369dea0f31a53f85, 0x0bf58476d1ce4e5b);
    const __m256i step = _mm256_set1_epi64x(static_cast<long long>(0xc2b2ae3d27d4eb4fu));
    std::size_t at = 0;
    for (; at + 64 <= size; at += 64) {
        salt = _mm256_add_epi64(salt, step);
        for (std::size_t half = 0; half < 2; ++half) {
            const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 32 * half));
            const __m256i salted = _mm256_xor_si256(words, half == 0 ? salt : _mm256_shuffle_epi32(salt, 0x4e));
            const __m256i product = _mm256_mul_epu32(salted, _mm256_srli_epi64(salted, 32));
            sums[half] = _mm256_add_epi64(sums[half], _mm256_add_epi64(product, _mm256_shuffle_epi32(words, 0x4e)));
        }
    }
    alignas(32) std::uint64_t words[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(words), sums[0]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(words + 4), sums[1]);
    std::uint64_t hash = size;
    for (auto word : words)
        hash = mix(hash, word);
    return finish(hash, data, size, at);
}

std::uint64_t fingerprint(const char* data, std::size_t size)
{
    static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    return wide ? fingerprint_wide(data, size) : fingerprint_words(data, size);
}
#else
std::uint64_t fingerprint(const char* data, std::size_t size) { return fingerprint_words(data, size); }
#endif

} // namespace

PinnedFile::PinnedFile(std::unique_ptr<RegistryFileSource::File> file, std::size_t block_size)
    : file_(std::move(file))
    , block_size_(std::max<std::size_t>(block_size, 1))
{
}

void PinnedFile::seal()
{
    fingerprints_.push_back(fingerprint(last_.get(), block_size_));
    // The block just read is the one a read goes back to first.
    std::swap(last_, checked_);
    checked_index_ = fingerprints_.size() - 1;
    last_held_ = 0;
}

std::ptrdiff_t PinnedFile::read_up_to_block(char* into, std::uint64_t offset)
{
    std::size_t held = 0;
    while (held < block_size_) {
        const auto count = file_->read_at(into + held, block_size_ - held, offset + held);
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        held += static_cast<std::size_t>(count);
    }
    return static_cast<std::ptrdiff_t>(held);
}

bool PinnedFile::first_read(const char* block, std::ptrdiff_t held, std::size_t index)
{
    // Shorter now, or other bytes: not the file the keys were read from.
    if (held != static_cast<std::ptrdiff_t>(block_size_) || fingerprint(block, block_size_) != fingerprints_[index]) {
        changed_ = true;
        return false;
    }
    return true;
}

const char* PinnedFile::checked_block(std::size_t index)
{
    if (index == checked_index_)
        return checked_.get();
    if (!checked_)
        checked_ = std::make_unique_for_overwrite<char[]>(block_size_);
    checked_index_ = SIZE_MAX;
    const auto held = read_up_to_block(checked_.get(), index * std::uint64_t{ block_size_ });
    if (held < 0 || !first_read(checked_.get(), held, index))
        return nullptr;
    checked_index_ = index;
    return checked_.get();
}

std::ptrdiff_t PinnedFile::read_fresh_block(char* into, std::uint64_t offset)
{
    const auto held = read_up_to_block(into, offset);
    if (held < 0)
        return -1;
    if (held == static_cast<std::ptrdiff_t>(block_size_)) {
        fingerprints_.push_back(fingerprint(into, block_size_));
        return held;
    }
    // The file ends within the block: its bytes are kept, as any read's.
    ended_ = true;
    if (!last_)
        last_ = std::make_unique_for_overwrite<char[]>(block_size_);
    std::memcpy(last_.get(), into, static_cast<std::size_t>(held));
    last_held_ = static_cast<std::size_t>(held);
    return held;
}

std::ptrdiff_t PinnedFile::read_at(char* buffer, std::size_t size, std::uint64_t offset)
{
    if (changed_)
        return -1;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, UINT64_MAX - offset));
    std::size_t copied = 0;
    while (copied < size) {
        if (last_held_ == block_size_)
            seal();
        const std::uint64_t at = offset + copied;
        const std::uint64_t whole = fingerprints_.size() * std::uint64_t{ block_size_ };
        if (at < whole) {
            const auto index = static_cast<std::size_t>(at / block_size_);
            if (at % block_size_ == 0 && size - copied >= block_size_ && index != checked_index_) {
                // A whole block read again: straight into the caller's buffer, and checked there.
                const auto held = read_up_to_block(buffer + copied, at);
                if (held < 0 || !first_read(buffer + copied, held, index))
                    return -1;
                copied += block_size_;
                continue;
            }
            const char* block = checked_block(index);
            if (block == nullptr)
                return -1;
            const auto within = static_cast<std::size_t>(at % block_size_);
            const auto count = std::min(block_size_ - within, size - copied);
            std::memcpy(buffer + copied, block + within, count);
            copied += count;
            continue;
        }
        const std::uint64_t read_end = whole + last_held_;
        if (at >= read_end) {
            // Bytes never read yet: read on, up to what is asked for.
            if (ended_)
                break;
            if (at == read_end && last_held_ == 0 && size - copied >= block_size_) {
                const auto held = read_fresh_block(buffer + copied, at);
                if (held < 0)
                    return -1;
                copied += static_cast<std::size_t>(held);
                continue;
            }
            if (!last_)
                last_ = std::make_unique_for_overwrite<char[]>(block_size_);
            const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(block_size_ - last_held_, offset + size - read_end));
            const auto count = file_->read_at(last_.get() + last_held_, wanted, read_end);
            if (count < 0)
                return -1;
            if (count == 0)
                ended_ = true;
            last_held_ += static_cast<std::size_t>(count);
            continue;
        }
        const auto within = static_cast<std::size_t>(at - whole);
        const auto count = std::min(last_held_ - within, size - copied);
        std::memcpy(buffer + copied, last_.get() + within, count);
        copied += count;
    }
    return static_cast<std::ptrdiff_t>(copied);
}

} // namespace hivedump::wine
