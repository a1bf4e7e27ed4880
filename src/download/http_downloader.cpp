#include "download/http_downloader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <type_traits>

#include "common/text.h"
#include "config/logger.h"
#include "config/settings.h"
#include "config/util.h"
#include "download/proxy_step.h"
#include "download/server_certificate.h"
#include "platform/connection.h"
#include "platform/files.h"

static_assert(std::is_same<curl_off_t, std::int64_t>::value,
              "onProgress takes libcurl's byte counts as they are");

namespace {

// The whole transfer, redirects included, must end within this time.
constexpr long kTransferTimeoutSeconds = 600;
constexpr long kMaxRedirects = 5;
// libcurl's largest receive buffer: with its 16 KiB default, the per-chunk
// write and progress calls held a loopback transfer to about two thirds of
// the curl tool's throughput. The buffer is allocated once per transfer.
constexpr long kReceiveBufferBytes = 512 * 1024;

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

// The output file with the number of bytes it may still take and has
// taken (64 bits: an installer may pass 2 GiB).
struct Sink {
  std::FILE* file;
  std::uint64_t room;
  std::uint64_t written;
};

// libcurl's write callback: straight to the file. A block that does not fit
// the room left ends the transfer (a short count is a write error to
// libcurl), so nothing much past the limit reaches the disk.
std::size_t writeToSink(const char* data, std::size_t size, std::size_t count,
                        void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (bytes > sink.room) return 0;
  sink.room -= bytes;
  const std::size_t done = std::fwrite(data, 1, bytes, sink.file);
  sink.written += done;
  return done;
}

// Why a body that libcurl delivered without error is not the file wanted,
// or "" when it is: nothing arrived, not all of it reached the disk, or
// (with `exact`) it is not exactly `size` bytes. Counted as written, never
// read back through the stream's 32-bit position.
std::string bodyRefusal(Sink& sink, bool exact, std::uint64_t size) {
  if (std::fflush(sink.file) != 0)
    return "The download could not be written.\r\n";
  if (exact && sink.written != size) {
    return "The download's size " + std::to_string(sink.written) +
           " is not the size the manifest names (" + std::to_string(size) +
           ").\r\n";
  }
  return std::string();
}

// `head` is lower case.
bool startsWithIgnoreCase(const std::string& text, const char* head) {
  std::size_t i = 0;
  for (; head[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    const char c = text[i];
    const char lower =
        (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != head[i]) return false;
  }
  return true;
}

std::string withoutLineBreaks(std::string url) {
  url.erase(std::remove_if(url.begin(), url.end(),
                           [](char c) { return c == '\r' || c == '\n'; }),
            url.end());
  return url;
}

// One header line with a credential's value masked; the line end kept.
std::string maskedHeader(const std::string& line) {
  for (const char* name : {"authorization:", "proxy-authorization:"}) {
    if (!startsWithIgnoreCase(line, name)) continue;
    const std::size_t end = line.find_first_of("\r\n");
    return line.substr(0, line.find(':') + 1) + " ****" +
           (end == std::string::npos ? std::string() : line.substr(end));
  }
  return line;
}

int traceToStandardError(CURL*, curl_infotype kind, char* data,
                         std::size_t size, void*) {
  const std::string text = HttpDownloader::maskedTrace(static_cast<int>(kind),
                                                       std::string(data, size));
  std::fwrite(text.data(), 1, text.size(), stderr);
  return 0;
}

}  // namespace

std::string HttpDownloader::maskedTrace(int kind, const std::string& data) {
  if (kind == CURLINFO_TEXT) return "* " + tsdlm::traceLine(data);
  if (kind != CURLINFO_HEADER_IN && kind != CURLINFO_HEADER_OUT) return {};
  const char* mark = kind == CURLINFO_HEADER_IN ? "< " : "> ";
  // Sent headers come as one block of lines; each is marked and masked.
  std::string out;
  std::size_t start = 0;
  while (start < data.size()) {
    std::size_t end = data.find('\n', start);
    end = end == std::string::npos ? data.size() : end + 1;
    const std::string line = maskedHeader(data.substr(start, end - start));
    out += mark + tsdlm::traceLine(line);
    start = end;
  }
  return out;
}

namespace {

std::string manifestUrlOf(const RunOptions& options) {
  return options.isCheck() ? options.manifestUrl : Settings::getUpdateUrl();
}

}  // namespace

Transfer HttpDownloader::getManifestSignature(const RunOptions& options,
                                              std::uint64_t maxBytes,
                                              std::string& bytes) {
  bytes.clear();
  const std::wstring path =
      Util::getManifestPath(options.workingFolder) + L".p7s";
  Transfer fetched = download(manifestUrlOf(options) + ".p7s", path, maxBytes,
                              nullptr, false, false);
  if (!fetched) {
    if (fetched.code != CURLE_HTTP_RETURNED_ERROR && !fetched.error.empty()) {
      Logger::instance().writeError(fetched.error);
    }
    // No signature: the working folder is left as a server without one
    // always left it.
    (void)platform::deleteFile(path);
    return fetched;
  }
  const platform::FileStream file(platform::openFile(path, L"rb"));
  char buffer[4096];
  std::size_t got = 0;
  while (file && (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0 &&
         bytes.size() <= maxBytes) {
    bytes.append(buffer, got);
  }
  // The transfer kept to the limit; a file grown since is not what came.
  if (!file || bytes.size() > maxBytes) {
    bytes.clear();
    fetched.ok = false;
  }
  return fetched;
}

Transfer HttpDownloader::getUpdateXml(const RunOptions& options) {
  if (!options.isCheck() && !Settings::checkForUpdates()) return Transfer();
  const std::string url = manifestUrlOf(options);
  const std::wstring path = Util::getManifestPath(options.workingFolder);
  // The limits of update.ini are read here but not applied: the transfer
  // keeps its fixed overall time limit.
  (void)Settings::getDownloadOptions();
  return download(url, path, kManifestLimit);
}

Transfer HttpDownloader::download(const std::string& url,
                                  const std::wstring& path,
                                  std::uint64_t maxBytes,
                                  const ProgressCallback* progress,
                                  bool exactSize, bool logFailure) {
  Transfer done =
      transfer(url, path, maxBytes, progress, exactSize, logFailure);
  if (done) {
    Logger::instance().write("Download complete: " + tsdlm::narrowLow8(path) +
                             "\r\n");
  }
  return done;
}

Transfer HttpDownloader::transfer(const std::string& rawUrl,
                                  const std::wstring& path,
                                  std::uint64_t maxBytes,
                                  const ProgressCallback* progress,
                                  bool exactSize, bool logFailure) {
  const std::string url = withoutLineBreaks(rawUrl);
  Transfer result;
  if (!platform::internetConnectionAvailable()) return result;

  CurlHandle curl(curl_easy_init());
  if (!curl) return result;

  if (runProxyStep(curl.get(), url) == ProxyStepResult::kFailed) return result;

  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  // Web protocols only; and what was asked for over HTTPS stays on HTTPS:
  // a redirect to plain HTTP would hand the rest of the transfer to anyone
  // on the way.
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(
      handle, CURLOPT_REDIR_PROTOCOLS_STR,
      startsWithIgnoreCase(url, "https://") ? "https" : "http,https");
  curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, &traceToStandardError);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION,
                   &HttpDownloader::onProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA,
                   const_cast<ProgressCallback*>(progress));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &writeToSink);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  // An error status (400 and above) is a failed transfer, not a file to
  // keep as if it were the document asked for: a 404 page must not pass
  // for the manifest or the installer.
  curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  if (maxBytes != kNoLimit) {
    // An announced length over the limit fails before any byte is written.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(maxBytes));
  }

  const platform::FileStream file(platform::openFile(path, L"wb"));
  if (!file) return result;
  Sink sink{file.get(), maxBytes, 0};
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  const ServerCertificateCheck serverCheck(handle);

  const auto code =
      static_cast<CURLcode>(serverCheck.result(curl_easy_perform(handle)));
  if (code != CURLE_OK) {
    result.code = static_cast<int>(code);
    result.error =
        "curl_easy_perform() failed: " + std::to_string(result.code) + " (" +
        curl_easy_strerror(code) + ")\r\n";
    if (logFailure) Logger::instance().writeError(result.error);
    return result;
  }

  if (sink.written == 0) return result;
  result.error = bodyRefusal(sink, exactSize, maxBytes);
  result.ok = result.error.empty();
  if (!result.ok) Logger::instance().writeError(result.error);
  return result;
}

int HttpDownloader::onProgress(void* user, std::int64_t downloadTotal,
                               std::int64_t downloaded, std::int64_t,
                               std::int64_t) {
  const int percent = downloadTotal >= 1
                          ? static_cast<int>(downloaded * 100 / downloadTotal)
                          : 0;
  const auto* progress = static_cast<const ProgressCallback*>(user);
  if (progress != nullptr && *progress) (*progress)(percent);
  return 0;
}
