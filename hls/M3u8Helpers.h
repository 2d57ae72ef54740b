#pragma once
// URL and playlist helpers shared by the download task and the full-URL export (unit
// TM3u8Class).

#include <QString>
#include <QStringList>

// Proxy switch and address for aria2c; the settings page writes them.
extern bool ProxyEnabled;
extern QString ProxyString;
// Which variant of a master playlist a task downloads; the settings page and korvi-get set it.
enum class VariantChoice { First, Highest, Lowest };
extern VariantChoice VariantPreference;
// "first", "highest", "lowest" and back; an unknown text is First and sets *known to false.
QString VariantChoiceName(VariantChoice choice);
VariantChoice VariantChoiceFromName(const QString &name, bool *known = nullptr);
// Attempts of DownloadFile per scheme, and aria2c runs of one task.
inline constexpr int DownloadRetries = 5;

// Segments one aria2c run fetches at once; the settings page and korvi-get set it.
inline constexpr int DefaultSegmentConcurrency = 16;
inline constexpr int MinSegmentConcurrency = 1;
inline constexpr int MaxSegmentConcurrency = 32;
extern int SegmentConcurrency;
// A number outside MinSegmentConcurrency..MaxSegmentConcurrency gives the default.
int SegmentConcurrencyFromNumber(int number);

// Bytes of a first playlist line fetched to tell a variant playlist from a media segment.
inline constexpr qint64 ProbeHeadBytes = 4096;

// True for any text of at least 6 characters that contains "http://", "https://", "ftp://" or
// "ftps://" anywhere, in any letter case.
bool IsUrl(const QString &s);
// Scheme and authority, without trailing "/".
QString GetUrlRoot(const QString &url);
// Up to and including the last "/", query removed first.
QString GetUrlDir(const QString &url);
// The text between the first URI=" and the next double quote; empty when unterminated.
QString GetKeyUri(const QString &line);
// The line with its URI value replaced; a line without a URI=" attribute comes back unchanged.
QString ReplaceKeyUri(const QString &line, const QString &uri);
// A "#EXT-X-KEY:" line that names a key: a terminated, non-empty URI and a METHOD other than
// NONE. Other key lines leave the key alone and stay as they are.
bool IsKeyLine(const QString &line);

// A playlist line resolved against the playlist's address as RFC 3986 resolves a reference: an
// address with a scheme stays, "//host/x" takes the playlist's scheme, "/x" its root, anything
// else its folder, dot segments removed and any fragment dropped.
QString ResolveUrl(const QString &line, const QString &playlistUrl);

// Local file of the task's n-th distinct key (0-based): "key.key", "key2.key", "key3.key", ...
QString KeyFileName(int index);
// A "#EXT-X-MAP:" line naming an initialisation section: a terminated, non-empty URI. Its file
// is fetched with the segments and the line points at the local copy.
bool IsMapLine(const QString &line);
// Local file of the task's n-th distinct initialisation section (0-based): "init.mp4",
// "init2.mp4", ...
QString MapFileName(int index);

// The form in which an address may reach aria2c or libcurl: it begins with http://, https://,
// ftp:// or ftps:// (any case) and holds no control character; blanks are percent-encoded.
// Empty for any other text, which is then never fetched.
QString FetchableUrl(const QString &url);
// A value for a double-quoted field of a parameter line: each embedded quote becomes three
// quotes, which the argument splitter reads back as one literal quote.
QString QuoteField(const QString &value);

// Fetches one URL into one file with libcurl; DownloadRetries attempts, then, for https, the
// same over http. A failed fetch leaves an existing file as it was. Goes through the proxy
// when ProxyEnabled, like every fetch below.
bool DownloadFile(const QString &url, const QString &file);
// What one fetch of a playlist, a key or a probe may take, and what it reports back.
struct FetchRequest {
    QString headers;               // the task's header block, sent with every request
    qint64 maxBytes = 0;           // an answer longer than this fails; 0: no cap
    const bool *cancel = nullptr;  // the fetch ends, failed, as soon as *cancel is true
    QString *finalUrl = nullptr;   // receives the address the answer came from, redirects followed
    bool untimed = false;          // no deadline: a segment, bound by its cap and cancel alone
};
// Caps of the fetches that are not segments.
inline constexpr qint64 PlaylistMaxBytes = 16 * 1024 * 1024;
inline constexpr qint64 KeyMaxBytes = 4096;
// DownloadFile within UrlFetcher::DeadlineMs() in all, the headers sent by libcurl. When
// libcurl fails (but was neither cancelled nor out of time nor over the cap), aria2c tries,
// bound by the same cap, deadline and cancel; the address asked for then stands as finalUrl.
bool DownloadFile(const QString &url, const QString &file, const FetchRequest &request);
// Like DownloadFile, but only the first `bytes` bytes (a range request, and the transfer is
// cut there should the server send more); a shorter file is fetched whole.
bool DownloadFileHead(const QString &url, const QString &file, qint64 bytes);
// The same for a request: its maxBytes is the head's length, and it goes like the request form
// of DownloadFile (headers, deadline, cancel, aria2c when libcurl fails).
bool DownloadFileHead(const QString &url, const QString &file, const FetchRequest &request);
// One libcurl attempt at the head, with the request's headers, proxy and cancel: no retries and
// no aria2c, for when only the server's answer is wanted (UrlFetcher::LastError on failure).
bool FetchHeadOnce(const QString &url, const QString &file, const FetchRequest &request);
// Fetches one URL into one file with aria2c, waiting for it; true when the file exists and no
// ".aria2" control file is left. The headers go in a private input list, never on aria2c's
// command line. Bound like a playlist fetch: PlaylistMaxBytes and the deadline.
bool Aria2DownloadFile(const QString &url, const QString &file, const QString &headers);
// The same with the request's cap and cancel flag; nothing partial is kept.
bool Aria2DownloadFile(const QString &url, const QString &file, const FetchRequest &request);
// True when the file exists and begins with the 7 bytes "#EXTM3U", after any byte-order mark.
bool IsM3u8File(const QString &file);
// One --header option per header line that holds a colon, with one blank before each and one
// after the last; empty when no line qualifies.
QString BuildHeaderOptions(const QString &text);
// The header lines a request sends: those BuildHeaderOptions takes, trimmed, less any line
// holding a control character.
QStringList RequestHeaderLines(const QString &text);
// The per-download options of every entry of an aria2c input list, which only the user can
// read: " all-proxy=" with the proxy (credentials and all) when ProxyEnabled, then
// " header=Key: Value" for each request header line.
QStringList Aria2ListOptions(const QString &headers);

// Parameter lines of the tools, exactly as they are handed to the process runner.
// The certificate and follow options that start every aria2c line. The proxy and the request
// headers are never on it, where every local user could read them: they go in the input list
// (Aria2ListOptions).
QString Aria2CommonOptions();
// One file: the input list names the address, the output name and the headers.
QString Aria2FetchParamLine(const QString &listFile, const QString &dir);
// Options of a segment run: `jobs` segments at once (aria2c has no per-server limit across
// downloads, so this alone sets the connections to the host), time-outs that let a silent
// connection cost seconds, a short wait before retrying, and no pre-allocation of the files.
QString Aria2SegmentOptions(int jobs);
// The session file receives the downloads that aria2c did not finish.
QString Aria2ListParamLine(const QString &listFile, const QString &workDir,
                           const QString &sessionFile, int jobs);
QString MergeParamLine(const QString &indexFile, const QString &ffmpegParams,
                       const QString &outFile);
// The same for a variant whose audio comes from its own playlist: the video of the first input,
// the audio of the second.
QString MergeParamLine(const QString &indexFile, const QString &audioFile,
                       const QString &ffmpegParams, const QString &outFile);
