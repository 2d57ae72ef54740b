// korvi-get [-H "Key: Value"]... [--proxy URL] [-j N] [--variant first|highest|lowest]
//            [--no-subs] [--live-duration LENGTH | --no-record] ADDRESS OUTPUT
// korvi-get [options] --from-curl FILE OUTPUT      a request copied from a browser
// korvi-get [options] --info [--json] ADDRESS      what the playlist holds, no segments
// Runs one download task: exit 0 when the output is merged, 1 on a task error (its text on
// standard error), 130 after Ctrl-C, 2 on bad arguments.

#include "cli/PlaylistInfo.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Class.h"
#include "hls/TM3u8Status.h"
#include "hls/UrlFetcher.h"
#include "support/ProcessUtils.h"
#include "support/WorkFolders.h"
#include "tasks/import/BrowserRequest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kExitFinished = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "用法: korvi-get [-H \"Key: Value\"]... [--proxy URL] [-j N] ADDRESS OUTPUT\n"
    "  ADDRESS  m3u8 播放列表的地址 (http/https/ftp) 或本地播放列表文件\n"
    "  OUTPUT   合并后的 MP4 文件 (不以 .mp4 结尾时自动加上)\n"
    "  -H       请求头, 每个 -H 一行, 可重复\n"
    "  --proxy  所有下载 (播放列表、key、分段) 使用的代理, 如 http://127.0.0.1:8080\n"
    "  --variant first|highest|lowest  主播放列表取哪个码率: 第一个 (默认), 最高, 最低\n"
    "  --no-subs  不下载字幕 (默认把所选码率的各个字幕作为 MP4 的字幕轨道)\n"
    "  --verbose  显示每次下载的地址和每个工具的命令行 (不显示请求头的值)\n"
    "  --from-curl FILE OUTPUT  从浏览器复制的请求 (Copy as cURL/fetch) 下载, FILE 为 - "
    "时读标准输入\n"
    "  --info [--json] ADDRESS  只显示播放列表的内容, 不下载分段\n"
    "  --version  显示版本\n"
    "  -j       同时下载的分段数量, 1-32, 默认 16\n"
    "  --live-duration LENGTH  直播流 (没有 #EXT-X-ENDLIST) 最多录制多长, 如 90s, 30m, 2h 或秒数;"
    " 默认录制到直播结束或按 Ctrl-C\n"
    "  --no-record  不录制直播流, 只下载当前列出的分段\n"
    "退出码: 0 完成, 1 任务出错, 2 参数错误, 130 被 Ctrl-C 停止\n"
    "被停止的下载保留已完成的分段, 再次运行同一地址只下载其余部分\n"
    "录制直播时按 Ctrl-C 结束录制并合并已录制的部分, 再按一次则停止\n";

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
    const char byte = char(signo);
    const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    Q_UNUSED(written);
}

void Print(FILE *stream, const QString &text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

struct Arguments {
    QStringList headers;
    QString proxy;
    bool proxySet = false;
    VariantChoice variant = VariantChoice::First;
    int jobs = DefaultSegmentConcurrency;
    QString address;
    QString output;
    bool version = false;  // --version: print it and exit
    bool noSubs = false;
    bool fromCurl = false;  // ADDRESS names a file holding a request copied from a browser
    bool info = false;      // describe the playlist instead of downloading it
    bool json = false;
    bool verbose = false;    // every fetch and tool command line on standard error
    bool record = true;      // a live playlist is recorded, not taken as a snapshot
    double liveSeconds = 0;  // longest recording; 0: until the stream ends
};

// "90", "90s", "30m", "2h": seconds above 0; -1 for anything else.
double LengthSeconds(const QString &text) {
    static const QRegularExpression length(QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)([smh]?)$"));
    const QRegularExpressionMatch m = length.match(text.trimmed());
    if (!m.hasMatch())
        return -1;
    const double unit = m.captured(2) == QLatin1String("h")   ? 3600
                        : m.captured(2) == QLatin1String("m") ? 60
                                                              : 1;
    const double seconds = m.captured(1).toDouble() * unit;
    return seconds > 0 && seconds <= 366.0 * 86400 ? seconds : -1;
}

// The largest request file --from-curl reads.
constexpr qint64 kMaxRequestFileBytes = 1024 * 1024;

// Replaces the request file named by ADDRESS with the request's address and adds its headers
// before those of -H. False with a reason when the file holds no usable request.
bool TakeRequestFile(Arguments &arguments, QString &problem) {
    QFile file;
    const bool fromStdin = arguments.address == QLatin1String("-");
    const bool opened = fromStdin
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(arguments.address), file.open(QIODevice::ReadOnly));
    if (!opened) {
        problem = QStringLiteral("无法读取请求文件: %1").arg(arguments.address);
        return false;
    }
    const QByteArray bytes = file.read(kMaxRequestFileBytes + 1);
    if (bytes.size() > kMaxRequestFileBytes) {
        problem = QStringLiteral("请求文件过大: %1").arg(arguments.address);
        return false;
    }
    BrowserRequest request;
    switch (ParseBrowserRequest(QString::fromUtf8(bytes), request, problem)) {
        case RequestParse::NotARequest:
            problem =
                QStringLiteral("不是从浏览器复制的 curl 或 fetch 请求: %1").arg(arguments.address);
            return false;
        case RequestParse::Refused:
            return false;
        case RequestParse::Parsed:
            break;
    }
    arguments.address = request.url;
    arguments.headers = request.headers + arguments.headers;
    return true;
}

// --info: the playlist described on standard output, as text or as one JSON object.
int PrintPlaylistInfo(const Arguments &arguments) {
    QJsonObject info;
    QString problem;
    if (!ReadPlaylistInfo(arguments.address, arguments.headers.join(QStringLiteral("\r\n")),
                          arguments.variant, info, problem)) {
        Print(stderr, problem + QLatin1Char('\n'));
        return kExitError;
    }
    Print(stdout, arguments.json ? QString::fromUtf8(QJsonDocument(info).toJson())
                                 : PlaylistInfoText(info));
    return 0;
}

// False with a reason (empty for --help) when the arguments do not make a task.
bool ParseArguments(const QStringList &args, Arguments &out, QString &problem, bool &help) {
    QStringList positional;
    help = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--version")) {
            out.version = true;
            return false;
        }
        if (arg == QLatin1String("--verbose")) {
            out.verbose = true;
            continue;
        }
        if (arg == QLatin1String("--no-subs")) {
            out.noSubs = true;
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            help = true;
            return false;
        }
        if (arg == QLatin1String("--from-curl") || arg == QLatin1String("--info") ||
            arg == QLatin1String("--json")) {
            out.info = out.info || arg == QLatin1String("--info");
            out.json = out.json || arg == QLatin1String("--json");
            out.fromCurl = out.fromCurl || arg == QLatin1String("--from-curl");
            continue;
        }
        if (arg == QLatin1String("--no-record")) {
            out.record = false;
            continue;
        }
        if (arg == QLatin1String("--live-duration")) {
            out.liveSeconds = i + 1 < args.size() ? LengthSeconds(args.at(++i)) : -1;
            if (out.liveSeconds < 0) {
                problem = QStringLiteral("--live-duration 需要一个长度, 如 90s, 30m, 2h 或秒数");
                return false;
            }
            continue;
        }
        if (arg == QLatin1String("-j")) {
            bool ok = false;
            const int jobs = i + 1 < args.size() ? args.at(i + 1).toInt(&ok) : 0;
            if (!ok || jobs < MinSegmentConcurrency || jobs > MaxSegmentConcurrency) {
                problem = QStringLiteral("-j 需要 %1 到 %2 之间的整数")
                              .arg(MinSegmentConcurrency)
                              .arg(MaxSegmentConcurrency);
                return false;
            }
            out.jobs = jobs;
            ++i;
            continue;
        }
        if (arg == QLatin1String("-H") || arg == QLatin1String("--proxy") ||
            arg == QLatin1String("--variant")) {
            if (i + 1 >= args.size()) {
                problem = QStringLiteral("%1 缺少参数").arg(arg);
                return false;
            }
            const QString value = args.at(++i);
            if (arg == QLatin1String("-H")) {
                if (value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'))) {
                    problem = QStringLiteral("请求头不能包含换行");
                    return false;
                }
                out.headers << value;
            } else if (arg == QLatin1String("--variant")) {
                bool known = false;
                out.variant = VariantChoiceFromName(value, &known);
                if (!known) {
                    problem = QStringLiteral("--variant 只能是 first, highest 或 lowest");
                    return false;
                }
            } else {
                out.proxy = value;
                out.proxySet = true;
            }
            continue;
        }
        if (arg == QLatin1String("--")) {
            positional << args.mid(i + 1);
            break;
        }
        if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            problem = QStringLiteral("未知选项 %1").arg(arg);
            return false;
        }
        positional << arg;
    }
    if (out.json && !out.info) {
        problem = QStringLiteral("--json 只能与 --info 一起使用");
        return false;
    }
    if (out.info && positional.size() == 1) {
        out.address = positional.at(0).trimmed();
        if (out.address.isEmpty())
            problem = QStringLiteral("ADDRESS 不能为空");
        return problem.isEmpty();
    }
    if (positional.size() != 2) {
        problem = out.info ? QStringLiteral("--info 只需要 ADDRESS 一个参数")
                           : QStringLiteral("需要 ADDRESS 和 OUTPUT 两个参数");
        return false;
    }
    out.address = positional.at(0).trimmed();
    out.output = positional.at(1);
    if (out.address.isEmpty() || out.output.isEmpty()) {
        problem = QStringLiteral("ADDRESS 和 OUTPUT 不能为空");
        return false;
    }
    const QFileInfo outInfo(out.output);
    if (!outInfo.absoluteDir().exists()) {
        problem = QStringLiteral("输出文件夹不存在: %1").arg(outInfo.absolutePath());
        return false;
    }
    return true;
}

// Status lines: one line per change when the output is a file or a pipe, one updating line on
// a terminal.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool terminal) : m_terminal(terminal) {}
    void Show(const QString &status, const QString &value, int done, int total);
    void Finish();

private:
    bool m_terminal;
    bool m_lineOpen = false;
    QString m_lastStatus;
    QString m_lastText;
};

void ProgressPrinter::Show(const QString &status, const QString &value, int done, int total) {
    const QString text = status + QLatin1Char(' ') + value;
    if (!m_terminal) {
        if (text != m_lastText)
            Print(stdout, text + QLatin1Char('\n'));
        m_lastText = text;
        return;
    }
    if (m_lineOpen && status != m_lastStatus)
        Print(stdout, QStringLiteral("\n"));
    QString line = text;
    if (total > 0)
        line += QStringLiteral("  (%1/%2)").arg(done).arg(total);
    Print(stdout, QStringLiteral("\r") + line + QStringLiteral("\x1b[K"));
    m_lineOpen = true;
    m_lastStatus = status;
    m_lastText = text;
}

void ProgressPrinter::Finish() {
    if (m_lineOpen)
        Print(stdout, QStringLiteral("\n"));
    m_lineOpen = false;
}

}  // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    Arguments arguments;
    QString problem;
    bool help = false;
    if (!ParseArguments(app.arguments(), arguments, problem, help)) {
        if (arguments.version) {
            Print(stdout, QStringLiteral("korvi-get " KORVI_VERSION "\n"));
            return kExitFinished;
        }
        if (help) {
            Print(stdout, QString::fromUtf8(kUsage));
            return kExitFinished;
        }
        Print(stderr, QStringLiteral("korvi-get: %1\n").arg(problem) + QString::fromUtf8(kUsage));
        return kExitUsage;
    }

    if (arguments.verbose) {
        UrlFetcher::SetLog([](const QString &line) { Print(stderr, line + QLatin1Char('\n')); });
        SetProcessLog([](const QString &program, const QString &params) {
            Print(stderr, program + params + QLatin1Char('\n'));
        });
    }
    ProxyEnabled = arguments.proxySet && !arguments.proxy.isEmpty();
    ProxyString = arguments.proxy;
    VariantPreference = arguments.variant;
    SegmentConcurrency = arguments.jobs;
    if (arguments.fromCurl && !TakeRequestFile(arguments, problem)) {
        Print(stderr, QStringLiteral("korvi-get: %1\n").arg(problem));
        return kExitUsage;
    }
    if (arguments.info)
        return PrintPlaylistInfo(arguments);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        Print(stderr, QStringLiteral("korvi-get: socketpair failed\n"));
        return kExitError;
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    QString address = arguments.address;
    if (!IsUrl(address) && QFileInfo(address).isFile())
        address = QFileInfo(address).absoluteFilePath();

    TM3u8 task;
    bool ended = false;
    int exitCode = kExitError;
    int stopSignal = 0;
    ProgressPrinter printer(::isatty(STDOUT_FILENO));

    auto end = [&](int code) {
        ended = true;
        exitCode = code;
        printer.Finish();
        QTimer::singleShot(0, &app, [&app] { app.exit(); });
    };
    task.TaskId = 1;
    task.OnProgress = [&](int, const QString &, float percent, const QString &status) {
        // A recording shows the length recorded, which has no end to be a percent of.
        const QString value = status == TM3u8Status::kRecording
                                  ? TM3u8Status::RecordedLengthText(task.RecordedSeconds())
                                  : QStringLiteral("%1%").arg(double(percent), 0, 'f', 2);
        printer.Show(status, value, task.SegmentsPresent(), int(task.Segments.size()));
    };
    task.OnError = [&](int, const QString &message) {
        printer.Finish();
        // The status text as the window shows it, then why, when the engine knows.
        Print(stderr,
              (task.FailReason.isEmpty() ? message
                                         : message + QStringLiteral(": ") + task.FailReason) +
                  QLatin1Char('\n'));
        end(kExitError);
    };
    task.OnFinish = [&](int) {
        if (stopSignal) {
            // In a terminal Ctrl-C reaches ffmpeg too, which then ends its output early.
            end(128 + stopSignal);
            Print(stderr,
                  QStringLiteral("合并时被中断, 输出文件可能不完整: %1\n").arg(task.OutFile));
            return;
        }
        end(kExitFinished);
        for (const QString &note : task.SubtitleNotes)
            Print(stderr, note + QLatin1Char('\n'));
        Print(stdout, QStringLiteral("完成: %1\n").arg(task.OutFile));
        if (task.LiveMissed > 0)
            Print(stderr, QStringLiteral("录制时有 %1 个分段在下载前已移出直播列表, 未能录下\n")
                              .arg(task.LiveMissed));
    };
    bool stopped = false;
    task.OnStop = [&](int) {
        stopped = true;
        end(stopSignal ? 128 + stopSignal : 130);
        Print(stderr,
              task.Recording
                  ? QStringLiteral("已停止录制: 已录制的分段保留在 %1; 录制不能继续, "
                                   "再次运行同一命令将重新开始录制\n")
                        .arg(task.WorkDir)
                  : QStringLiteral("已停止: 已下载的分段保留在 %1, 再次运行同一命令即可继续下载\n")
                        .arg(task.WorkDir));
    };

    bool endingRecording = false;
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) != 1)
            return;
        // The first signal ends a recording and merges it; the next one stops as for any task.
        if (!endingRecording && !stopSignal && task.EndRecording()) {
            endingRecording = true;
            printer.Finish();
            Print(stderr, QStringLiteral("正在结束录制并合并... (再按一次 Ctrl-C 停止)\n"));
            return;
        }
        if (!stopSignal) {
            stopSignal = int(byte);
            // A second signal ends the program at once.
            signal(SIGINT, SIG_DFL);
            signal(SIGTERM, SIG_DFL);
            printer.Finish();
            Print(stderr, QStringLiteral("正在停止... (再按一次 Ctrl-C 立即退出)\n"));
            task.Stop();
        }
    });

    // Out of reach of Korvi's start-up clean-up: a stopped run promises the next one its folder.
    task.TempDir = CommandLineTempDir();
    try {
        task.SetUrl(address);
    } catch (const std::runtime_error &error) {
        Print(stderr, QStringLiteral("korvi-get: %1\n").arg(QString::fromLocal8Bit(error.what())));
        return kExitError;
    }
    task.SetOutput(QFileInfo(arguments.output).absoluteFilePath());
    task.Headers = arguments.headers.join(QStringLiteral("\r\n"));
    task.WithSubtitles = !arguments.noSubs;
    task.LiveDurationLimit = arguments.liveSeconds;
    TM3u8::SetRecordLive(arguments.record);
    task.Start();
    if (!ended && task.Running)
        app.exec();
    // A playlist that could not be fetched leaves its work folder behind; a command run from
    // scripts should not fill the temporary folder with them. A stopped download keeps its
    // folder: the next run of the same address resumes from it.
    if (!stopped)
        task.DiscardWorkDir();
    return exitCode;
}
