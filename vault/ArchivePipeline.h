#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "util/Bytes.h"
#include "util/Result.h"

// The threads that pack and open folder archives: gzip members compressed and inflated on every
// core at once, handed on in order through bounded queues, in buffers that go round. Used by
// Archive.cpp and TarStream.cpp only.
namespace vaultry::vault::detail {

class CipherReader;  // ArchiveCipher.h

// The processors this process may run on (taskset and cgroups narrow it).
unsigned usableCores();

// Buffers passed round between the threads that open an archive and given back when used, so

// Buffers passed round between the threads that open an archive and given back when used, so
// that each member does not take fresh memory (and the page faults of first touching it).
// At most as many as are in flight at once; wiped when the pool goes.
class BufferPool {
public:
    SecureBuffer take();
    void give(SecureBuffer b);

private:
    std::mutex mutex_;
    std::vector<SecureBuffer> free_;
};

// A fixed set of threads running jobs in the order they were posted. The destructor lets the
// jobs already posted run to their end.
class Workers {
public:
    explicit Workers(unsigned n);
    ~Workers();
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
    void run();
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

// Compresses the tar stream on all cores; the members reach the sink in order, on a thread of
// their own, so that encryption and writing overlap compression. Each block of the tar stream
// becomes gzip members of its own, which gzip, gunzip and tar read as one stream.
class ParallelGzip {
public:
    using Sink = std::function<Status(const unsigned char*, std::size_t)>;
    explicit ParallelGzip(Sink sink);
    ~ParallelGzip();
    ParallelGzip(const ParallelGzip&) = delete;
    ParallelGzip& operator=(const ParallelGzip&) = delete;

    Status write(const void* data, std::size_t n);
    Status finish();

private:
    Status submit();
    void drainToSink();
    // Ends the writer thread; with drop, blocks not yet written are thrown away.
    void stop(bool drop = false);

    Sink sink_;
    Workers workers_;
    Pipe<std::future<std::optional<std::vector<unsigned char>>>> ordered_;
    std::thread writer_;
    SecureBuffer block_;
    bool submitted_ = false;
    std::mutex errorMutex_;
    std::string error_;
};

// One piece of the opened stream, in order: plaintext, or the error that ends the stream.
struct Piece {
    SecureBuffer data;
    std::string error;
};

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
    explicit Inflater(CipherReader& reader);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // The next inflated piece; size 0 at the end of the stream. The piece before it is done with.
    Result<std::pair<const unsigned char*, std::size_t>> next();
    // Reads whatever tar left unread, to check the trailers.
    Status drain();

private:
    bool send(Piece p);
    void report(std::string message);
    // Makes sure decrypted input is at hand in at_/left_ unless the input has ended. False after
    // a read error, which is reported.
    bool refill();
    // Appends up to n more bytes of input to `to`; fewer only at the end. False after a read error.
    bool read(SecureBuffer& to, std::size_t n);
    static bool hasLengthField(const SecureBuffer& b);
    void split();
    // Any gzip stream, one or more members, inflated as it comes; `first` is its beginning.
    void inflateStream(SecureBuffer first);

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

}  // namespace vaultry::vault::detail
