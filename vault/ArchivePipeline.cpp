#include "vault/ArchivePipeline.h"

#include <libdeflate.h>
#include <sched.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "vault/ArchiveCipher.h"

namespace vaultry::vault::detail {
namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Each block of the tar stream becomes gzip members of its own, so blocks are compressed on
// all cores at once and the output is still what gzip, gunzip and tar read (they take
// concatenated members as one stream). Every member carries its own length in an extra
// header field ("Vy"), which lets the reader hand whole members to several threads too.
// Parts of a block that would not compress (already compressed or random data) are not run
// through deflate at all: they are kept as stored deflate blocks.
constexpr std::size_t kBlockIn = 1 << 20;         // tar bytes per compression job
constexpr std::size_t kMaxMember = 2 * kBlockIn;  // bound on a member's size, in and out
constexpr std::size_t kMemberHeader = 20;         // gzip header with the length field
constexpr std::size_t kMemberTrailer = 8;         // CRC-32 and length
// The room of every buffer that holds a member or its contents while an archive is opened: one
// size for both, so that buffers that go round are never grown.
constexpr std::size_t kMemberRoom = kMaxMember + kMemberHeader + kMemberTrailer;
constexpr std::size_t kProbe = 64 * 1024;  // the unit judged compressible or not
constexpr int kLevel = 6;

// Order-0 entropy of a piece in bits per byte; above kStoreAbove, deflate gains too little
// to be worth its time.
constexpr double kStoreAbove = 7.9;
double entropyBits(const unsigned char* p, std::size_t n) {
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++counts[0][p[i]];
        ++counts[1][p[i + 1]];
        ++counts[2][p[i + 2]];
        ++counts[3][p[i + 3]];
    }
    for (; i < n; ++i) ++counts[0][p[i]];
    double bits = 0;
    for (int b = 0; b < 256; ++b) {
        const std::uint32_t c = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
        if (c) bits -= c * std::log2(static_cast<double>(c) / static_cast<double>(n));
    }
    return bits / static_cast<double>(n);
}

void putLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t getLe32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// A deflater per thread, reset for each member: zlib's level 6, whose output is as small as
// `gzip -6`'s. (libdeflate's level 6 is faster but up to an eighth larger on repetitive text,
// and its levels that come close in size are slower than zlib.)
struct Deflater {
    z_stream z{};
    bool ok = false;
    Deflater() { ok = deflateInit2(&z, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater() {
        if (ok) deflateEnd(&z);
    }
};

// Deflates in[0, n) into out[0, room); the length written, or 0 when it does not fit.
std::size_t deflateInto(const unsigned char* in, std::size_t n, unsigned char* out, std::size_t room) {
    thread_local Deflater d;
    if (!d.ok || deflateReset(&d.z) != Z_OK) return 0;
    d.z.next_in = const_cast<unsigned char*>(in);
    d.z.avail_in = static_cast<uInt>(n);
    d.z.next_out = out;
    d.z.avail_out = static_cast<uInt>(room);
    return deflate(&d.z, Z_FINISH) == Z_STREAM_END ? room - d.z.avail_out : 0;
}

// Appends one gzip member holding in[0, n) to out: deflated when `deflate`, else stored.
void appendMember(std::vector<unsigned char>& out, const unsigned char* in, std::size_t n, bool deflate) {
    const std::size_t start = out.size();
    const unsigned char header[kMemberHeader] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 3, 8, 0, 'V', 'y', 4, 0};
    out.insert(out.end(), header, header + kMemberHeader);
    std::size_t body = 0;
    if (deflate && n > 0) {
        // Room for no more than the input: what does not shrink is stored instead.
        out.resize(start + kMemberHeader + n);
        body = deflateInto(in, n, out.data() + start + kMemberHeader, n);
        out.resize(start + kMemberHeader + body);
    }
    if (body == 0) {
        std::size_t done = 0;
        do {
            const std::size_t len = std::min<std::size_t>(n - done, 65535);
            const bool last = done + len == n;
            const unsigned char h[5] = {static_cast<unsigned char>(last ? 1 : 0),
                                        static_cast<unsigned char>(len), static_cast<unsigned char>(len >> 8),
                                        static_cast<unsigned char>(~len),
                                        static_cast<unsigned char>(~len >> 8)};
            out.insert(out.end(), h, h + 5);
            out.insert(out.end(), in + done, in + done + len);
            done += len;
        } while (done < n);
    }
    unsigned char trailer[kMemberTrailer];
    putLe32(trailer, libdeflate_crc32(0, in, n));
    putLe32(trailer + 4, static_cast<std::uint32_t>(n));
    out.insert(out.end(), trailer, trailer + kMemberTrailer);
    putLe32(out.data() + start + 16, static_cast<std::uint32_t>(out.size() - start));
}

// The gzip members for one block: runs of compressible and of incompressible pieces each
// become one member.
std::optional<std::vector<unsigned char>> compressBlock(const SecureBuffer& in) {
    std::vector<unsigned char> out;
    out.reserve(in.size() + in.size() / 65535 * 5 + 64);
    if (in.empty()) {
        appendMember(out, in.data(), 0, false);
        return out;
    }
    std::size_t runStart = 0;
    bool runDeflate = true;
    for (std::size_t at = 0; at < in.size(); at += kProbe) {
        const std::size_t len = std::min(kProbe, in.size() - at);
        const bool deflate = entropyBits(in.data() + at, len) <= kStoreAbove;
        if (at == 0) {
            runDeflate = deflate;
        } else if (deflate != runDeflate) {
            appendMember(out, in.data() + runStart, at - runStart, runDeflate);
            runStart = at;
            runDeflate = deflate;
        }
    }
    appendMember(out, in.data() + runStart, in.size() - runStart, runDeflate);
    return out;
}

constexpr char kDamaged[] = "the archive is damaged (not a valid gzip stream)";

libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(
        libdeflate_alloc_decompressor());
    return d.get();
}

// Inflates one member into a buffer from `pool`; the member's own buffer goes back to it.
Piece inflateMember(SecureBuffer in, std::uint32_t size, BufferPool& pool) {
    Piece p;
    p.data = pool.take();
    p.data.reserve(kMemberRoom);
    p.data.resize(std::max<std::size_t>(size, 1));
    libdeflate_decompressor* d = threadDecompressor();
    std::size_t used = 0, produced = 0;
    if (!d ||
        libdeflate_gzip_decompress_ex(d, in.data(), in.size(), p.data.data(), size, &used, &produced) !=
            LIBDEFLATE_SUCCESS ||
        used != in.size() || produced != size)
        p.error = kDamaged;
    p.data.resize(produced);
    pool.give(std::move(in));
    return p;
}

}  // namespace

unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

SecureBuffer BufferPool::take() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) return SecureBuffer();
    SecureBuffer b = std::move(free_.back());
    free_.pop_back();
    b.clear();
    return b;
}

void BufferPool::give(SecureBuffer b) {
    if (b.data() == nullptr) return;
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(b));
}

Workers::Workers(unsigned n) {
    for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { run(); });
}

Workers::~Workers() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void Workers::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

ParallelGzip::ParallelGzip(Sink sink)
    : sink_(std::move(sink)), workers_(usableCores()), ordered_(2 * usableCores() + 2) {
    block_.reserve(kBlockIn);
    writer_ = std::thread([this] { drainToSink(); });
}

ParallelGzip::~ParallelGzip() { stop(true); }

Status ParallelGzip::write(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const std::size_t take = std::min(n, kBlockIn - block_.size());
        block_.append(p, take);
        p += take;
        n -= take;
        if (block_.size() == kBlockIn)
            if (auto st = submit(); !st) return st;
    }
    return {};
}

Status ParallelGzip::finish() {
    if (!block_.empty() || !submitted_)
        if (auto st = submit(); !st) return st;
    stop();
    std::lock_guard lock(errorMutex_);
    if (!error_.empty()) return fail(error_);
    return {};
}

Status ParallelGzip::submit() {
    auto input = std::make_shared<SecureBuffer>(std::move(block_));
    block_ = SecureBuffer();
    block_.reserve(kBlockIn);
    submitted_ = true;
    if (!ordered_.push(workers_.post([input] { return compressBlock(*input); }))) {
        std::lock_guard lock(errorMutex_);
        return fail(error_.empty() ? "compression failed" : error_);
    }
    return {};
}

void ParallelGzip::drainToSink() {
    while (auto next = ordered_.pop()) {
        const auto out = next->get();
        Status st = out ? sink_(out->data(), out->size()) : Status(fail("compression failed"));
        if (!st) {
            {
                std::lock_guard lock(errorMutex_);
                error_ = st.error().message;
            }
            ordered_.close(true);
            return;
        }
    }
}

void ParallelGzip::stop(bool drop) {
    if (!writer_.joinable()) return;
    ordered_.close(drop);
    writer_.join();
}

Inflater::Inflater(CipherReader& reader) : reader_(reader), ordered_(2 * usableCores() + 2) {
    splitter_ = std::thread([this] { split(); });
}

Inflater::~Inflater() {
    ordered_.close(true);
    splitter_.join();
}

Result<std::pair<const unsigned char*, std::size_t>> Inflater::next() {
    for (;;) {
        if (!error_.empty()) return fail(error_);
        if (ended_) return std::pair<const unsigned char*, std::size_t>{nullptr, 0};
        auto piece = ordered_.pop();
        if (!piece) {
            ended_ = true;
            continue;
        }
        pool_.give(std::move(current_.data));
        current_ = piece->get();
        if (!current_.error.empty()) {
            error_ = current_.error;
            continue;
        }
        if (!current_.data.empty())
            return std::pair<const unsigned char*, std::size_t>{current_.data.data(), current_.data.size()};
    }
}

Status Inflater::drain() {
    for (;;) {
        auto piece = next();
        if (!piece) return piece.error();
        if (piece->second == 0) return {};
    }
}

bool Inflater::send(Piece p) {
    std::promise<Piece> ready;
    ready.set_value(std::move(p));
    return ordered_.push(ready.get_future());
}

void Inflater::report(std::string message) {
    Piece p;
    p.error = std::move(message);
    send(std::move(p));
}

bool Inflater::refill() {
    if (left_ > 0 || inputDone_) return true;
    auto piece = reader_.next();
    if (!piece) {
        report(piece.error().message);
        return false;
    }
    at_ = piece->first;
    left_ = piece->second;
    inputDone_ = left_ == 0;
    return true;
}

bool Inflater::read(SecureBuffer& to, std::size_t n) {
    while (n > 0) {
        if (!refill()) return false;
        if (left_ == 0) break;
        const std::size_t take = std::min(n, left_);
        to.append(at_, take);
        at_ += take;
        left_ -= take;
        n -= take;
    }
    return true;
}

bool Inflater::hasLengthField(const SecureBuffer& b) {
    static const unsigned char head[] = {0x1f, 0x8b, 8, 4};
    static const unsigned char extra[] = {8, 0, 'V', 'y', 4, 0};
    return b.size() >= kMemberHeader && std::memcmp(b.data(), head, 4) == 0 &&
           std::memcmp(b.data() + 10, extra, 6) == 0;
}

void Inflater::split() {
    bool any = false;
    for (;;) {
        SecureBuffer member = pool_.take();
        member.reserve(kMemberRoom);
        if (!read(member, kMemberHeader)) return ordered_.close();
        if (any && member.empty()) return ordered_.close();  // ended between members
        if (!hasLengthField(member)) {
            inflateStream(std::move(member));
            return ordered_.close();
        }
        const std::size_t total = getLe32(member.data() + 16);
        if (total < kMemberHeader + kMemberTrailer + 1 || total > kMemberRoom) {
            report(kDamaged);
            return ordered_.close();
        }
        if (!read(member, total - kMemberHeader)) return ordered_.close();
        if (member.size() < total) {
            report("the archive is cut short");
            return ordered_.close();
        }
        const std::uint32_t size = getLe32(member.data() + total - 4);
        if (size > kMaxMember) {
            report(kDamaged);
            return ordered_.close();
        }
        any = true;
        if (!workers_) workers_.emplace(usableCores());
        auto job = [this, in = std::move(member), size]() mutable {
            return inflateMember(std::move(in), size, pool_);
        };
        if (!ordered_.push(workers_->post(std::move(job)))) return ordered_.close();
    }
}

void Inflater::inflateStream(SecureBuffer first) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return report("not a gzip stream");
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};
    z.next_in = first.data();
    z.avail_in = static_cast<uInt>(first.size());
    bool memberEnded = false;
    for (;;) {
        if (z.avail_in == 0 && !inputDone_) {
            if (!refill()) return;
            z.next_in = const_cast<unsigned char*>(at_);
            z.avail_in = static_cast<uInt>(left_);
            left_ = 0;
        }
        if (z.avail_in == 0 && inputDone_) {
            if (!memberEnded) report("the archive is cut short");
            return;
        }
        if (memberEnded) {
            // Another gzip member follows (tools may concatenate them).
            if (inflateReset(&z) != Z_OK) return report("not a gzip stream");
            memberEnded = false;
        }
        Piece out;
        out.data = pool_.take();
        out.data.reserve(kMemberRoom);
        out.data.resize(kChunk);
        z.next_out = out.data.data();
        z.avail_out = static_cast<uInt>(out.data.size());
        const int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            memberEnded = true;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            return report(kDamaged);
        }
        out.data.resize(kChunk - z.avail_out);
        if (!out.data.empty() && !send(std::move(out))) return;
    }
}

}  // namespace vaultry::vault::detail
