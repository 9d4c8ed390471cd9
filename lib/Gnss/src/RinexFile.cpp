#include "RinexFile.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <streambuf>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kvt::Gnss {

namespace {

std::string systemError(const std::string& what, const std::string& path)
{
    return what + ' ' + path + ": " + std::strerror(errno);
}

// Paths this process has committed: a second file of one name (a stream that goes back in
// time) is kept beside the first instead of replacing it.
bool claim(const std::string& path)
{
    static std::mutex lock;
    static std::set<std::string> claimed;
    const std::lock_guard<std::mutex> guard(lock);
    return claimed.insert(path).second;
}

} // namespace

// Bytes to a descriptor, through zlib when compressing; a failed write fails the stream.
class RinexFile::Buffer : public std::streambuf {
public:
    Buffer(int fd, bool gzip) : mFd(fd), mBytes(64 * 1024)
    {
        if (gzip)
            mGz = gzdopen(fd, "wb6");
        setp(mBytes.data(), mBytes.data() + mBytes.size());
    }
    ~Buffer() override { close(); }
    bool ok() const { return mOk && (mFd >= 0 || mGz); }

    bool close()
    {
        drain();
        if (mGz) {
            mOk = gzclose(mGz) == Z_OK && mOk;  // closes the descriptor too
            mGz = nullptr;
            mFd = -1;
        } else if (mFd >= 0) {
            mOk = ::close(mFd) == 0 && mOk;
            mFd = -1;
        }
        return mOk;
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* p = pbase();
        size_t left = size_t(pptr() - pbase());
        while (mOk && left > 0) {
            const long n = mGz ? gzwrite(mGz, p, unsigned(left)) : long(::write(mFd, p, left));
            if (n < 0 && !mGz && errno == EINTR)
                continue;
            if (n <= 0) {
                mOk = false;
                break;
            }
            p += n;
            left -= size_t(n);
        }
        if (mOk && mGz && gzflush(mGz, Z_SYNC_FLUSH) != Z_OK)
            mOk = false;
        setp(mBytes.data(), mBytes.data() + mBytes.size());
        return mOk;
    }

    int mFd;
    gzFile mGz = nullptr;
    std::vector<char> mBytes;
    bool mOk = true;
};

RinexFile::RinexFile() : mStream(nullptr) {}

RinexFile::~RinexFile() { discard(); }

bool RinexFile::isOpen() const { return bool(mBuffer); }

bool RinexFile::create(const std::string& directory, bool gzip, std::string* error)
{
    discard();
    mDirectory = directory.empty() ? std::string(".") : directory;
    // The folder itself may be new; a missing parent is the caller's mistake, not made here.
    if (::mkdir(mDirectory.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = systemError("cannot create the folder", mDirectory);
        return false;
    }
    std::string pattern = mDirectory + "/.rinex-XXXXXX";
    // mkstemp opens with O_CREAT | O_EXCL: it never opens what is already there, link or not.
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        *error = systemError("cannot create a file in", mDirectory);
        return false;
    }
    ::fchmod(fd, 0644);
    mTemporary = pattern;
    mGzip = gzip;
    mBuffer = std::make_unique<Buffer>(fd, gzip);
    mStream.rdbuf(mBuffer.get());
    mStream.clear();
    return true;
}

void RinexFile::flush()
{
    if (mBuffer)
        mStream.flush();
}

std::string RinexFile::commit(const std::string& name, std::string* error)
{
    if (!mBuffer)
        return {};
    mStream.flush();
    const bool written = mStream.good() && mBuffer->close();
    if (!written) {
        *error = systemError("cannot write", mDirectory + '/' + name);
        discard();
        return {};
    }
    std::string base = name + (mGzip ? ".gz" : "");
    std::string path = mDirectory + '/' + base;
    for (int n = 2; !claim(path) && n < 1000; ++n) {
        const size_t dot = std::min(name.rfind('.'), name.size());
        base = name.substr(0, dot) + '_' + std::to_string(n) + name.substr(dot) + (mGzip ? ".gz" : "");
        path = mDirectory + '/' + base;
    }
    // rename() replaces a link at the target, never what it points to.
    if (::rename(mTemporary.c_str(), path.c_str()) != 0) {
        *error = systemError("cannot rename a file to", path);
        discard();
        return {};
    }
    mTemporary.clear();
    mStream.rdbuf(nullptr);
    mBuffer.reset();
    return base;
}

void RinexFile::discard()
{
    mStream.rdbuf(nullptr);
    mBuffer.reset();
    if (!mTemporary.empty())
        ::unlink(mTemporary.c_str());
    mTemporary.clear();
}

} // namespace Kvt::Gnss
