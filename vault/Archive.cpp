#include "vault/Archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "util/Fd.h"
#include "vault/ArchiveCipher.h"
#include "vault/CopyDigest.h"
#include "vault/KeyDerivation.h"
#include "vault/Temporaries.h"

namespace vaultry::vault {

using namespace detail;

namespace {

// A new file that becomes `final` only when commit() succeeds; otherwise nothing is left. It is
// made unnamed (O_TMPFILE) and linked in whole where the file system allows; elsewhere it has a
// name beside `final`, written down in the storage folder's journal first when there is one.
class PendingFile {
public:
    Status open(const fs::path& final) {
        final_ = final;
        std::error_code ec;
        if (fs::symlink_status(final, ec).type() != fs::file_type::not_found)
            return fail(final.filename().string() + " already exists");
        const fs::path folder = final.has_parent_path() ? final.parent_path() : fs::path(".");
        if (unnamedFilesAllowed() && ::access("/proc/self/fd", X_OK) == 0) {
            const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (fd >= 0) {
                fd_.reset(fd);
                unnamed_ = true;
                return {};
            }
        }
        const fs::path journal = JournalScope::current();
        for (;;) {
            tmp_ = final.string() + ".part-" + randomSuffix();
            if (!journal.empty()) {
                auto t = Temporary::reserve(journal, TempKind::File, tmp_);
                if (!t) return t.error();
                entry_ = std::move(*t);
            }
            const int fd = ::open(tmp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                fd_.reset(fd);
                break;
            }
            const int err = errno;
            entry_ = Temporary();
            if (err != EEXIST) {
                tmp_.clear();
                return fail("cannot write " + final.string() + ": " + std::strerror(err));
            }
        }
        if (auto id = identityOfOpen(fd_.get())) (void)entry_.made(*id);
        return {};
    }
    int fd() const { return fd_.get(); }
    Status commit() {
        if (::fsync(fd_.get()) != 0) return fail("cannot write " + final_.string() + ": " + why());
        if (auto id = identityOfOpen(fd_.get())) notePlacing(final_, *id);
        bool placed;
        if (unnamed_) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
            placed = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, final_.c_str(), AT_SYMLINK_FOLLOW) == 0;
        } else {
            placed = renameNoReplace(tmp_, final_);
        }
        if (!placed) {
            const std::string e = errno == EEXIST ? final_.filename().string() + " already exists"
                                                  : "cannot write " + final_.string() + ": " + why();
            return fail(e);
        }
        fd_.reset();
        tmp_.clear();
        entry_ = Temporary();
        syncFolder(final_.has_parent_path() ? final_.parent_path() : fs::path("."));
        return {};
    }
    ~PendingFile() {
        fd_.reset();
        if (!tmp_.empty()) ::unlink(tmp_.c_str());
    }

private:
    fs::path final_;
    std::string tmp_;
    bool unnamed_ = false;
    Temporary entry_;  // declared after tmp_: goes once the file is gone
    Fd fd_;
};

// ---- parallel gzip ------------------------------------------------------------------------

// The processors this process may run on (taskset and cgroups narrow it).
unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

// Plaintext that is wiped before its memory goes back. Room that is added is not zeroed first:
// it is always written before it is read, and zeroing a megabyte per member cost more than the
// inflating did.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::size_t n) { resize(n); }
    Bytes(Bytes&& o) noexcept : p_(std::move(o.p_)), size_(o.size_), room_(o.room_) { o.size_ = o.room_ = 0; }
    Bytes& operator=(Bytes&& o) noexcept {
        if (this != &o) {
            wipe();
            p_ = std::move(o.p_);
            size_ = o.size_;
            room_ = o.room_;
            o.size_ = o.room_ = 0;
        }
        return *this;
    }
    ~Bytes() { wipe(); }
    unsigned char* data() { return p_.get(); }
    const unsigned char* data() const { return p_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Sizes to n bytes, keeping what was held; new bytes are undefined.
    void resize(std::size_t n) {
        reserve(n);
        size_ = n;
    }
    void reserve(std::size_t n) {
        if (n <= room_) return;
        auto bigger = std::make_unique_for_overwrite<unsigned char[]>(n);
        if (size_) std::memcpy(bigger.get(), p_.get(), size_);
        wipe();
        p_ = std::move(bigger);
        room_ = n;
    }
    void append(const unsigned char* p, std::size_t n) {
        if (size_ + n > room_) reserve(std::max(size_ + n, 2 * room_));
        std::memcpy(p_.get() + size_, p, n);
        size_ += n;
    }
    // Empty, keeping the room (and the bytes in it until they are overwritten or wiped).
    void clear() { size_ = 0; }

private:
    void wipe() {
        if (p_) ::explicit_bzero(p_.get(), room_);
    }
    std::unique_ptr<unsigned char[]> p_;
    std::size_t size_ = 0, room_ = 0;
};

// Buffers passed round between the threads that open an archive and given back when used, so
// that each member does not take fresh memory (and the page faults of first touching it).
// At most as many as are in flight at once; wiped when the pool goes.
class BufferPool {
public:
    Bytes take() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return Bytes();
        Bytes b = std::move(free_.back());
        free_.pop_back();
        b.clear();
        return b;
    }
    void give(Bytes b) {
        if (b.data() == nullptr) return;
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(b));
    }

private:
    std::mutex mutex_;
    std::vector<Bytes> free_;
};

// A fixed set of threads running jobs in the order they were posted. The destructor lets the
// jobs already posted run to their end.
class Workers {
public:
    explicit Workers(unsigned n) {
        for (unsigned i = 0; i < n; ++i) threads_.emplace_back([this] { run(); });
    }
    ~Workers() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    template <class F>
    auto post(F f) -> std::future<decltype(f())> {
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        auto result = task->get_future();
        {
            std::lock_guard lock(mutex_);
            jobs_.emplace_back([task] { (*task)(); });
        }
        wake_.notify_one();
        return result;
    }

private:
    void run() {
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
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

// A queue of at most `capacity` items between one producer and one consumer. close() ends it
// for both sides: push then refuses, pop returns nothing once the queue is empty.
template <class T>
class Pipe {
public:
    explicit Pipe(std::size_t capacity) : capacity_(capacity) {}
    bool push(T item) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || items_.size() < capacity_; });
        if (closed_) return false;
        items_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }
    std::optional<T> pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty()) return std::nullopt;
        T item = std::move(items_.front());
        items_.pop_front();
        changed_.notify_all();
        return item;
    }
    // Ends the queue; with drop, what it still holds is thrown away.
    void close(bool drop = false) {
        std::lock_guard lock(mutex_);
        closed_ = true;
        if (drop) items_.clear();
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<T> items_;
    std::size_t capacity_;
    bool closed_ = false;
};

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
std::optional<std::vector<unsigned char>> compressBlock(const Bytes& in) {
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

// Compresses the tar stream on all cores; the members reach the sink in order, on a thread of
// their own, so that encryption and writing overlap compression.
class ParallelGzip {
public:
    using Sink = std::function<Status(const unsigned char*, std::size_t)>;
    explicit ParallelGzip(Sink sink)
        : sink_(std::move(sink)), workers_(usableCores()), ordered_(2 * usableCores() + 2) {
        block_.reserve(kBlockIn);
        writer_ = std::thread([this] { drainToSink(); });
    }
    ~ParallelGzip() { stop(true); }
    ParallelGzip(const ParallelGzip&) = delete;
    ParallelGzip& operator=(const ParallelGzip&) = delete;

    Status write(const void* data, std::size_t n) {
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

    Status finish() {
        if (!block_.empty() || !submitted_)
            if (auto st = submit(); !st) return st;
        stop();
        std::lock_guard lock(errorMutex_);
        if (!error_.empty()) return fail(error_);
        return {};
    }

private:
    Status submit() {
        auto input = std::make_shared<Bytes>(std::move(block_));
        block_ = Bytes();
        block_.reserve(kBlockIn);
        submitted_ = true;
        if (!ordered_.push(workers_.post([input] { return compressBlock(*input); }))) {
            std::lock_guard lock(errorMutex_);
            return fail(error_.empty() ? "compression failed" : error_);
        }
        return {};
    }

    void drainToSink() {
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

    // Ends the writer thread; with drop, blocks not yet written are thrown away.
    void stop(bool drop = false) {
        if (!writer_.joinable()) return;
        ordered_.close(drop);
        writer_.join();
    }

    Sink sink_;
    Workers workers_;
    Pipe<std::future<std::optional<std::vector<unsigned char>>>> ordered_;
    std::thread writer_;
    Bytes block_;
    bool submitted_ = false;
    std::mutex errorMutex_;
    std::string error_;
};

// ---- tar streams --------------------------------------------------------------------------

struct WriteCtx {
    ParallelGzip* gzip;
    std::string error;
};

la_ssize_t writeCallback(struct archive*, void* data, const void* buffer, size_t length) {
    auto* ctx = static_cast<WriteCtx*>(data);
    if (auto st = ctx->gzip->write(buffer, length); !st) {
        ctx->error = st.error().message;
        return -1;
    }
    return static_cast<la_ssize_t>(length);
}

// One piece of the opened stream, in order: plaintext, or the error that ends the stream.
struct Piece {
    Bytes data;
    std::string error;
};

constexpr char kDamaged[] = "the archive is damaged (not a valid gzip stream)";

libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(
        libdeflate_alloc_decompressor());
    return d.get();
}

// Inflates one member into a buffer from `pool`; the member's own buffer goes back to it.
Piece inflateMember(Bytes in, std::uint32_t size, BufferPool& pool) {
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

// Inflates the decrypted gzip stream. We do it ourselves rather than through libarchive so that
// the stream is read to its very end: the checksum and length in every gzip trailer are checked
// even though tar stops at its end-of-archive blocks.
//
// A thread of its own decrypts and cuts the stream into members. Members that carry their
// length (as we write them) are inflated on all cores at once; any other gzip stream, such as
// one from `tar -czf`, is inflated on that thread as it comes. Either way the caller's thread
// only unpacks, and at most a few members are held at a time, in buffers that go round.
class Inflater {
public:
    explicit Inflater(CipherReader& reader) : reader_(reader), ordered_(2 * usableCores() + 2) {
        splitter_ = std::thread([this] { split(); });
    }
    ~Inflater() {
        ordered_.close(true);
        splitter_.join();
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // The next inflated piece; size 0 at the end of the stream. The piece before it is done with.
    Result<std::pair<const unsigned char*, std::size_t>> next() {
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
                return std::pair<const unsigned char*, std::size_t>{current_.data.data(),
                                                                    current_.data.size()};
        }
    }
    // Reads whatever tar left unread, to check the trailers.
    Status drain() {
        for (;;) {
            auto piece = next();
            if (!piece) return piece.error();
            if (piece->second == 0) return {};
        }
    }

private:
    bool send(Piece p) {
        std::promise<Piece> ready;
        ready.set_value(std::move(p));
        return ordered_.push(ready.get_future());
    }
    void report(std::string message) {
        Piece p;
        p.error = std::move(message);
        send(std::move(p));
    }
    // Makes sure decrypted input is at hand in at_/left_ unless the input has ended. False after
    // a read error, which is reported.
    bool refill() {
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
    // Appends up to n more bytes of input to `to`; fewer only at the end. False after a read error.
    bool read(Bytes& to, std::size_t n) {
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
    static bool hasLengthField(const Bytes& b) {
        static const unsigned char head[] = {0x1f, 0x8b, 8, 4};
        static const unsigned char extra[] = {8, 0, 'V', 'y', 4, 0};
        return b.size() >= kMemberHeader && std::memcmp(b.data(), head, 4) == 0 &&
               std::memcmp(b.data() + 10, extra, 6) == 0;
    }

    void split() {
        bool any = false;
        for (;;) {
            Bytes member = pool_.take();
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

    // Any gzip stream, one or more members, inflated as it comes; `first` is its beginning.
    void inflateStream(Bytes first) {
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

    CipherReader& reader_;
    const unsigned char* at_ = nullptr;  // the reader's piece not handed on yet
    std::size_t left_ = 0;
    bool inputDone_ = false;
    // Declared before the workers and the queue: what they hold goes back to it.
    BufferPool pool_;
    std::optional<Workers> workers_;
    Pipe<std::future<Piece>> ordered_;
    std::thread splitter_;
    Piece current_;
    std::string error_;
    bool ended_ = false;
};

struct ReadCtx {
    Inflater* inflater;
    std::string error;
};

la_ssize_t readCallback(struct archive*, void* data, const void** buffer) {
    auto* ctx = static_cast<ReadCtx*>(data);
    auto piece = ctx->inflater->next();
    if (!piece) {
        ctx->error = piece.error().message;
        return -1;
    }
    *buffer = piece->first;
    return static_cast<la_ssize_t>(piece->second);
}

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)>;

std::string archiveError(struct archive* a, const std::string& fallback) {
    const char* e = archive_error_string(a);
    return e ? std::string(e) : fallback;
}

Status addTree(struct archive* a, const fs::path& root, const std::string& rootName, std::vector<char>& buf,
               Progress& progress) {
    std::error_code ec;
    std::vector<std::pair<fs::path, std::string>> pending{{root, rootName}};
    EntryPtr entry(archive_entry_new(), &archive_entry_free);
    while (!pending.empty()) {
        auto [path, name] = std::move(pending.back());
        pending.pop_back();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return fail("cannot read " + path.string() + ": " + why());
        if (S_ISSOCK(st.st_mode)) continue;  // sockets carry no data; tar skips them too
        archive_entry_clear(entry.get());
        archive_entry_copy_stat(entry.get(), &st);
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_uname(entry.get(), nullptr);
        archive_entry_set_gname(entry.get(), nullptr);
        Fd file;
        if (S_ISLNK(st.st_mode)) {
            std::error_code lec;
            const fs::path target = fs::read_symlink(path, lec);
            if (lec) return fail("cannot read " + path.string() + ": " + lec.message());
            archive_entry_set_symlink(entry.get(), target.c_str());
            archive_entry_set_size(entry.get(), 0);
        } else if (S_ISREG(st.st_mode)) {
            file.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (file.get() < 0) return fail("cannot read " + path.string() + ": " + why());
        } else {
            archive_entry_set_size(entry.get(), 0);
        }
        if (archive_write_header(a, entry.get()) != ARCHIVE_OK)
            return fail(archiveError(a, "cannot write the archive"));
        if (file.get() >= 0) {
            std::int64_t left = st.st_size;
            while (left > 0) {
                const ssize_t r =
                    readFull(file.get(), reinterpret_cast<unsigned char*>(buf.data()), buf.size());
                if (r < 0) return fail("cannot read " + path.string() + ": " + why());
                if (r == 0) return fail(path.string() + " changed while it was packed");
                const auto n = std::min<std::int64_t>(r, left);
                if (archive_write_data(a, buf.data(), static_cast<size_t>(n)) != n)
                    return fail(archiveError(a, "cannot write the archive"));
                left -= n;
                progress.add(static_cast<std::uint64_t>(n));
                if (progress.cancelled()) return cancelledError();
            }
        }
        if (S_ISDIR(st.st_mode)) {
            fs::directory_iterator it(path, ec), end;
            if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
            std::vector<std::pair<fs::path, std::string>> children;
            for (; it != end; it.increment(ec)) {
                if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
                children.emplace_back(it->path(), name + "/" + it->path().filename().string());
            }
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }
    return {};
}

// The entry name made safe to join to the unpack folder, or empty when it must be refused.
std::optional<std::string> safeName(const char* raw) {
    if (!raw) return std::nullopt;
    std::string name = raw;
    if (name.empty() || name.front() == '/') return std::nullopt;
    std::string out;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        const std::size_t slash = std::min(name.find('/', pos), name.size());
        const std::string part = name.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::nullopt;
        if (!out.empty()) out += '/';
        out += part;
    }
    return out;  // empty: the archive's own "." entry
}

// A symbolic link stays inside when its target, read from the link's folder, never climbs out.
bool linkStaysInside(const std::string& entryName, const char* target) {
    if (!target || !*target || target[0] == '/') return false;
    int depth = 0;
    for (char c : entryName)
        if (c == '/') ++depth;  // the link's folder is as deep as its name has slashes
    std::string t = target;
    std::size_t pos = 0;
    while (pos <= t.size()) {
        const std::size_t slash = std::min(t.find('/', pos), t.size());
        const std::string part = t.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        depth += part == ".." ? -1 : 1;
        if (depth < 0) return false;
    }
    return true;
}

// "._name": how macOS tar carries a file's resource fork and attributes (AppleDouble). Only a
// candidate: a user's own file may be called that too.
bool looksLikeMacMetadata(const std::string& name) {
    const auto slash = name.rfind('/');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    return last.size() > 2 && last.rfind("._", 0) == 0;
}

// Drops the real AppleDouble members among `candidates` (unpacked below `root`): those that begin
// with the AppleDouble magic number and sit beside the file they describe. Returns the dropped.
std::vector<std::string> dropMacMetadata(const fs::path& root, const std::vector<std::string>& candidates) {
    static constexpr unsigned char kAppleDouble[4] = {0x00, 0x05, 0x16, 0x07};
    std::vector<std::string> dropped;
    for (const auto& name : candidates) {
        const fs::path file = root / name;
        const fs::path sibling = file.parent_path() / file.filename().string().substr(2);
        struct stat st {};
        if (::lstat(sibling.c_str(), &st) != 0) continue;
        Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        unsigned char head[4] = {};
        if (fd.get() < 0 || readFull(fd.get(), head, sizeof head) != 4 ||
            std::memcmp(head, kAppleDouble, 4) != 0)
            continue;
        if (::unlink(file.c_str()) == 0) dropped.push_back(name);
    }
    return dropped;
}

// Every symbolic link below `root`, followed through the links it meets (as the system would),
// must end inside `root`: `d/l -> ..` beside `esc -> d/l/../..` climbs out although each link
// alone looks harmless. Links that lead nowhere (missing, loops) cannot lead out.
Status linkChainsStayInside(const fs::path& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec)) continue;
        std::error_code rec;
        const fs::path resolved = fs::weakly_canonical(it->path(), rec);
        if (rec) continue;
        const fs::path rel = resolved.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..")
            return fail("refused a link that leads outside the folder: " +
                        it->path().lexically_relative(root).string());
    }
    if (ec) return fail("cannot check the unpacked folder: " + ec.message());
    return {};
}

// Starts writing a large unpacked file's data to disk while the unpacking goes on, as
// CipherWriter does for archives, so that the flush at the end has little left to wait for. The
// file is opened beside libarchive's descriptor once it has a step's worth of data; small files
// are left to that flush, which writes them out together.
class EarlyWriteback {
public:
    // The file that is being written; empty for an entry that is not a file of its own.
    void begin(fs::path file) {
        path_ = std::move(file);
        fd_.reset();
        started_ = written_ = 0;
    }
    void wrote(std::int64_t end) {
        written_ = std::max(written_, end);
        if (written_ - started_ >= static_cast<std::int64_t>(kWritebackStep)) start();
    }
    void end() {
        if (fd_.get() >= 0) start();
        fd_.reset();
    }

private:
    void start() {
        if (fd_.get() < 0 && !path_.empty())
            fd_.reset(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd_.get() >= 0 && written_ > started_)
            ::sync_file_range(fd_.get(), started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
    fs::path path_;
    Fd fd_;
    std::int64_t started_ = 0, written_ = 0;
};

// Reads the whole decrypted tar stream; when `into` is set, unpacks it there.
Status readTar(CipherReader& reader, const fs::path* into, std::vector<std::string>* topNames,
               WrittenFiles* written = nullptr) {
    Inflater inflater(reader);
    ArchivePtr in(archive_read_new(), &archive_read_free);
    archive_read_support_format_tar(in.get());
    ReadCtx rctx{&inflater, {}};
    if (archive_read_open(in.get(), &rctx, nullptr, readCallback, nullptr) != ARCHIVE_OK)
        return fail(rctx.error.empty() ? archiveError(in.get(), "not a gzip tar stream") : rctx.error);

    ArchivePtr out(nullptr, &archive_write_free);
    if (into) {
        out.reset(archive_write_disk_new());
        archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    }
    EarlyWriteback writeback;
    std::vector<std::string> macCandidates;
    struct archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(in.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
            return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged") : rctx.error);
        const auto name = safeName(archive_entry_pathname(entry));
        if (!name)
            return fail(std::string("refused an entry outside the folder: ") + archive_entry_pathname(entry));
        const auto type = archive_entry_filetype(entry);
        const char* hardlink = archive_entry_hardlink(entry);
        std::optional<std::string> linkName;
        if (hardlink) {
            linkName = safeName(hardlink);
            if (!linkName || linkName->empty())
                return fail(std::string("refused a link outside the folder: ") + hardlink);
        }
        if (type == AE_IFLNK && !linkStaysInside(*name, archive_entry_symlink(entry)))
            return fail("refused a link that leads outside the folder: " + *name);
        const bool wanted =
            !name->empty() && (hardlink || type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK);
        // Vaultry writes GNU tar, which never carries resource forks: every member of its own
        // archives is kept. Those of macOS tar are looked at once the whole folder is out.
        if (into && wanted && type == AE_IFREG && !hardlink &&
            archive_format(in.get()) != ARCHIVE_FORMAT_TAR_GNUTAR && looksLikeMacMetadata(*name))
            macCandidates.push_back(*name);
        if (!into || !wanted) {
            // Reading the data through checks the gzip stream and its checksum.
            if (archive_read_data_skip(in.get()) != ARCHIVE_OK)
                return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged")
                                               : rctx.error);
            continue;
        }
        const std::string top = name->substr(0, name->find('/'));
        if (topNames && std::find(topNames->begin(), topNames->end(), top) == topNames->end())
            topNames->push_back(top);
        archive_entry_set_pathname(entry, (*into / *name).c_str());
        if (linkName) archive_entry_set_hardlink(entry, (*into / *linkName).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(out.get(), entry) != ARCHIVE_OK)
            return fail(archiveError(out.get(), "cannot unpack " + *name));
        writeback.begin(type == AE_IFREG && !hardlink ? *into / *name : fs::path());
        const bool hashed = written && type == AE_IFREG && !hardlink;
        if (hashed) written->begin(*name);
        if (written && !hashed) written->forget(*name);
        if (written && hardlink) written->distrust();
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int d = archive_read_data_block(in.get(), &block, &size, &offset);
            if (d == ARCHIVE_EOF) break;
            if (d != ARCHIVE_OK && d != ARCHIVE_WARN)
                return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged")
                                               : rctx.error);
            if (archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK)
                return fail(archiveError(out.get(), "cannot unpack " + *name));
            if (hashed) written->write(static_cast<std::uint64_t>(offset), block, size);
            writeback.wrote(offset + static_cast<la_int64_t>(size));
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK)
            return fail(archiveError(out.get(), "cannot unpack " + *name));
        if (hashed) written->end();
        writeback.end();
    }
    if (out && archive_write_close(out.get()) != ARCHIVE_OK)
        return fail(archiveError(out.get(), "cannot unpack"));
    if (auto st = inflater.drain(); !st) return st;
    if (!into) return {};
    if (auto st = linkChainsStayInside(*into); !st) return st;
    for (const auto& dropped : dropMacMetadata(*into, macCandidates))
        if (topNames && dropped.find('/') == std::string::npos) std::erase(*topNames, dropped);
    return {};
}

}  // namespace

bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link() refuses an existing name too (files only).
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

ArchiveKind archiveKindOf(const fs::path& archive) {
    return archive.extension() == ".gz" ? ArchiveKind::Folder : ArchiveKind::File;
}

Status encryptFile(const fs::path& source, const fs::path& archive, std::string_view pass, ArchiveKind kind,
                   Progress& progress) {
    // Never through a link: what stands at the item's place is what is packed, or nothing.
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) return fail("cannot read " + source.string() + ": " + why());
    PendingFile out;
    if (auto st = out.open(archive); !st) return st;
    CipherWriter writer;
    if (auto st = writer.begin(out.fd(), kind, pass); !st) return st;
    std::vector<unsigned char> buf(kChunk);
    for (;;) {
        const ssize_t r = readFull(in.get(), buf.data(), buf.size());
        if (r < 0) return fail("cannot read " + source.string() + ": " + why());
        if (r == 0) break;
        if (auto st = writer.write(buf.data(), static_cast<std::size_t>(r)); !st) return st;
        progress.add(static_cast<std::uint64_t>(r));
        if (progress.cancelled()) {
            OPENSSL_cleanse(buf.data(), buf.size());
            return cancelledError();
        }
    }
    OPENSSL_cleanse(buf.data(), buf.size());
    if (auto st = writer.finish(); !st) return st;
    return out.commit();
}

Status packFolder(const fs::path& folder, const fs::path& archive, std::string_view pass,
                  Progress& progress) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) return fail(folder.string() + " is not a folder");
    PendingFile out;
    if (auto st = out.open(archive); !st) return st;
    CipherWriter writer;
    if (auto st = writer.begin(out.fd(), ArchiveKind::Folder, pass); !st) return st;

    ParallelGzip gzip([&writer](const unsigned char* p, std::size_t n) { return writer.write(p, n); });
    // Declared before the archive, so that it outlives it: freeing an archive that was not closed
    // (an error while adding the tree) flushes what is left through writeCallback, into wctx.
    WriteCtx wctx{&gzip, {}};
    ArchivePtr a(archive_write_new(), &archive_write_free);
    // The GNU format, as `tar -czf` writes it: names are kept as the bytes they are, whatever
    // the locale, and long names need no extension GNU tar would not know. The tar stream is
    // padded to whole 10 KiB records as tar pads it; compression follows in ParallelGzip.
    archive_write_set_format_gnutar(a.get());
    archive_write_add_filter_none(a.get());
    if (archive_write_open(a.get(), &wctx, nullptr, writeCallback, nullptr) != ARCHIVE_OK)
        return fail(archiveError(a.get(), "cannot write the archive"));
    std::vector<char> buf(kChunk);
    fs::path clean = folder;
    if (!clean.has_filename()) clean = clean.parent_path();
    if (auto st = addTree(a.get(), clean, clean.filename().string(), buf, progress); !st) return st;
    if (archive_write_close(a.get()) != ARCHIVE_OK)
        return fail(wctx.error.empty() ? archiveError(a.get(), "cannot write the archive") : wctx.error);
    if (auto st = gzip.finish(); !st) return st;
    if (auto st = writer.finish(); !st) return st;
    return out.commit();
}

namespace {

Result<std::vector<Derivation>> derivationsToTry(int fd, ArchiveKind kind, std::string_view pass,
                                                 const Opening& how) {
    // A recorded derivation with a MAC needs no quick look: the full read is checked anyway, and
    // a damaged end is then reported for what it is.
    if (how.derivation && !how.macs.empty()) return std::vector<Derivation>{*how.derivation};
    return candidateDerivations(fd, kind, pass, how.derivation);
}

}  // namespace

Result<std::vector<Derivation>> derivationsThatOpen(const fs::path& archive, ArchiveKind kind,
                                                    std::string_view pass) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    return candidateDerivations(in.get(), kind, pass, std::nullopt);
}

Result<Opened> decryptFile(const fs::path& archive, const fs::path& outPath, std::string_view pass,
                           const Opening& how, Progress& progress, WrittenFiles* written) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), ArchiveKind::File, pass, how);
    if (!digests) return digests.error();
    // Each fitting derivation decrypts a file archive to the end without complaint, so when more
    // than one fits nothing says which reading is the right one: never pick one silently.
    if (digests->size() > 1) return fail(kOpensTwoWays);
    const Derivation digest = digests->front();
    PendingFile out;
    if (auto st = out.open(outPath); !st) return st.error();
    CipherReader reader;
    if (auto st = reader.begin(in.get(), ArchiveKind::File, digest, pass, how.macKey); !st) return st.error();
    reader.reportTo(progress);
    Status read;
    if (written) written->begin(outPath.filename().string());
    for (std::uint64_t at = 0;;) {
        auto piece = reader.next();
        if (!piece) {
            read = piece.error();
            break;
        }
        if (piece->second == 0) break;
        if (!writeAll(out.fd(), piece->first, piece->second))
            return fail("cannot write " + outPath.string() + ": " + why());
        if (written) written->write(at, piece->first, piece->second);
        at += piece->second;
    }
    if (written) written->end();
    auto opened = settle(reader, how, digest, read);
    if (!opened) return opened;
    if (auto st = out.commit(); !st) return st.error();
    return opened;
}

Result<std::vector<std::string>> unpackFolder(const fs::path& archive, const fs::path& targetDir,
                                              std::string_view pass, const Opening& how, Opened* opened,
                                              Progress& progress, WrittenFiles* written) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), ArchiveKind::Folder, pass, how);
    if (!digests) return digests.error();

    // A private folder, with no links in its path, so that libarchive's link checks judge only
    // what the archive itself brings.
    std::error_code ec;
    const fs::path realTarget = fs::canonical(targetDir, ec);
    if (ec) return fail("cannot use " + targetDir.string() + ": " + ec.message());
    // Written down in the storage folder's journal before it is made, when there is one, so that
    // a run killed mid-way leaves nothing a later start cannot prove to be ours.
    const fs::path journal = JournalScope::current();
    Temporary entry;
    fs::path staging;
    for (;;) {
        staging = realTarget / (std::string(".vaultry-unpack-") + randomSuffix());
        if (!journal.empty()) {
            auto t = Temporary::reserve(journal, TempKind::Folder, staging);
            if (!t) return t.error();
            entry = std::move(*t);
        }
        if (::mkdir(staging.c_str(), 0700) == 0) break;
        const int err = errno;
        entry = Temporary();
        if (err != EEXIST) return fail("cannot write in " + targetDir.string() + ": " + std::strerror(err));
    }
    if (auto id = identityOf(staging)) (void)entry.made(*id);
    struct Cleanup {
        fs::path p;
        Temporary& entry;
        ~Cleanup() {
            std::error_code e;
            fs::remove_all(p, e);
            if (e) entry.keepForSweep();  // swept at the next start
        }
    } cleanup{staging, entry};
    // Opened before anything is written, so that the flush at the end reports every write that
    // failed on its way to the disk.
    Fd stagingFd(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (stagingFd.get() < 0) return fail("cannot write in " + targetDir.string() + ": " + why());

    Error lastError{"the archive is damaged"};
    for (const Derivation digest : *digests) {
        std::vector<std::string> top;
        CipherReader reader;
        if (auto st = reader.begin(in.get(), ArchiveKind::Folder, digest, pass, how.macKey); !st)
            return st.error();
        reader.reportTo(progress);
        if (written) written->clear();
        auto read = settle(reader, how, digest, readTar(reader, &staging, &top, written));
        // The read stops on the reader's thread; what it says on the way out is not the reason.
        if (progress.cancelled()) return cancelledError();
        if (!read) {
            if (!how.macs.empty()) return read.error();  // the recorded derivation was the only one
            lastError = read.error();
            for (const auto& entry : fs::directory_iterator(staging, ec)) fs::remove_all(entry.path(), ec);
            continue;
        }
        for (const auto& name : top)
            if (fs::symlink_status(realTarget / name, ec).type() != fs::file_type::not_found)
                return fail(name + " already exists in " + targetDir.string());
        // Durable before it is in place: the archive it came from may be deleted next. One flush
        // of the file system rather than one per file and folder, which cost milliseconds each.
        if (::syncfs(stagingFd.get()) != 0)
            return fail("cannot write in " + targetDir.string() + ": " + why());
        std::vector<std::string> moved;
        for (const auto& name : top)
            if (auto id = identityOf(staging / name)) notePlacing(realTarget / name, *id);
        for (const auto& name : top) {
            if (!renameNoReplace(staging / name, realTarget / name)) {
                const Error e = fail("cannot place " + name + " in " + targetDir.string() + ": " + why());
                for (const auto& back : moved)
                    ::rename((realTarget / back).c_str(), (staging / back).c_str());
                return e;
            }
            moved.push_back(name);
        }
        syncFolder(realTarget);
        if (opened) *opened = *read;
        return top;
    }
    return lastError;
}

Result<Opened> verifyArchive(const fs::path& archive, ArchiveKind kind, std::string_view pass,
                             const Opening& how, Progress& progress) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), kind, pass, how);
    if (!digests) return digests.error();
    if (kind == ArchiveKind::File && digests->size() > 1) return fail(kOpensTwoWays);
    Error lastError{"the archive is damaged"};
    for (const Derivation digest : *digests) {
        CipherReader reader;
        if (auto st = reader.begin(in.get(), kind, digest, pass, how.macKey); !st) return st.error();
        reader.reportTo(progress);
        Status st;
        if (kind == ArchiveKind::Folder) {
            st = readTar(reader, nullptr, nullptr);
        } else {
            for (;;) {
                auto piece = reader.next();
                if (!piece) {
                    st = piece.error();
                    break;
                }
                if (piece->second == 0) break;
            }
        }
        auto opened = settle(reader, how, digest, st);
        if (progress.cancelled()) return cancelledError();
        if (opened || !how.macs.empty()) return opened;
        lastError = opened.error();
    }
    return lastError;
}

Result<Opened> reencryptArchive(const fs::path& archive, ArchiveKind kind, std::string_view oldPass,
                                std::string_view newPass, const fs::path& outPath, const Opening& how,
                                const std::optional<MacKey>& newKey, Progress& progress) {
    auto old = verifyArchive(archive, kind, oldPass, how, progress);
    if (!old) return old.error();
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    // Read again under the derivation that held, checked against the MAC just taken, so that a
    // change in between is not carried into the new archive. For a folder the gzip bytes are
    // carried over as they are.
    Opening again = how;
    again.derivation = old->derivation;
    if (how.macKey && old->mac) again.macs = {*old->mac};
    PendingFile out;
    if (auto st = out.open(outPath); !st) return st.error();
    CipherReader reader;
    CipherWriter writer;
    if (auto st = reader.begin(in.get(), kind, old->derivation, oldPass, again.macKey); !st)
        return st.error();
    if (auto st = writer.begin(out.fd(), kind, newPass); !st) return st.error();
    reader.reportTo(progress);
    Status st;
    for (;;) {
        auto piece = reader.next();
        if (!piece) {
            st = piece.error();
            break;
        }
        if (piece->second == 0) break;
        if (st = writer.write(piece->first, piece->second); !st) break;
    }
    if (auto read = settle(reader, again, old->derivation, st); !read) return read.error();
    if (auto done = writer.finish(); !done) return done.error();
    if (auto done = out.commit(); !done) return done.error();
    Opening written;
    written.derivation = kNewDerivation;
    written.macKey = newKey;
    auto made = verifyArchive(outPath, kind, newPass, written, progress);
    if (!made) {
        std::error_code ec;
        fs::remove(outPath, ec);
    }
    return made;
}

}  // namespace vaultry::vault
