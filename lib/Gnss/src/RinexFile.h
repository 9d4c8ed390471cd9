#pragma once
// A RINEX file being written: created under a fresh hidden name in its folder, exclusively and
// without following links (a link planted at a predictable name redirects nothing), plain or
// gzip-compressed, and renamed into place once complete. Internal to the library.

#include <memory>
#include <ostream>
#include <string>

namespace Kvt::Gnss {

class RinexFile {
public:
    RinexFile();
    ~RinexFile();  // a file never committed is removed
    RinexFile(const RinexFile&) = delete;
    RinexFile& operator=(const RinexFile&) = delete;

    // Creates the temporary file in `directory` (and the folder, not its parents); false with
    // `error` set on failure.
    bool create(const std::string& directory, bool gzip, std::string* error);
    std::ostream& stream() { return mStream; }
    void flush();
    // Closes and renames the file to `name` (".gz" added when compressed). A name this process
    // committed before gets a numbered suffix rather than being overwritten. The path written,
    // or empty with `error` set.
    std::string commit(const std::string& name, std::string* error);
    // Closes and removes the file.
    void discard();
    bool isOpen() const;

private:
    class Buffer;
    std::unique_ptr<Buffer> mBuffer;
    std::ostream mStream;
    std::string mDirectory, mTemporary;
    bool mGzip = false;
};

} // namespace Kvt::Gnss
