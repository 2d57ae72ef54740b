#include "cli/PlaylistInfo.h"

#include "hls/Playlist.h"
#include "support/TextUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

namespace {

// Reads one playlist: fetched as the engine fetches it, or a local file whose relative lines
// are left out.
bool ReadOne(const QString &address, const QString &headers, const QString &dir, Playlist &playlist,
             QString &problem) {
    if (IsUrl(address)) {
        if (FetchableUrl(address).isEmpty()) {
            problem = QStringLiteral("无法获取播放列表: %1").arg(address);
            return false;
        }
        return ReadRemotePlaylist(address, dir + QStringLiteral("/playlist.m3u8"), headers, nullptr,
                                  playlist, problem);
    }
    QStringList lines;
    const QFileInfo local(address);
    if (!local.isFile() || local.size() > PlaylistMaxBytes || !IsM3u8File(address) ||
        LoadTextFile(address, lines, true) == 0) {
        problem = QStringLiteral("不是 m3u8 播放列表: %1").arg(address);
        return false;
    }
    if (!ParsePlaylist(lines, QString(), playlist)) {
        problem = QStringLiteral("播放列表无法解析: %1").arg(address);
        return false;
    }
    return true;
}

QJsonObject MediaInfo(const QString &address, const MediaPlaylist &media) {
    double duration = 0;
    int byteRanges = 0;
    int discontinuities = 0;
    QStringList methods;
    for (const PlaylistSegment &segment : media.Segments) {
        duration += segment.Duration;
        byteRanges += segment.Length >= 0 ? 1 : 0;
        discontinuities += segment.Discontinuity ? 1 : 0;
        if (segment.Key >= 0 && !methods.contains(media.Keys[size_t(segment.Key)].Method))
            methods << media.Keys[size_t(segment.Key)].Method;
    }
    return QJsonObject{{"address", address},
                       {"segments", int(media.Segments.size())},
                       {"duration", duration},
                       {"targetDuration", media.TargetDuration},
                       {"encryption", QJsonArray::fromStringList(methods)},
                       {"keys", int(media.Keys.size())},
                       {"initSections", int(media.Maps.size())},
                       {"byteRanges", byteRanges},
                       {"discontinuities", discontinuities},
                       {"live", !media.EndList}};
}

}  // namespace

bool ReadPlaylistInfo(const QString &address, const QString &headers, VariantChoice choice,
                      QJsonObject &info, QString &problem) {
    QTemporaryDir dir;
    Playlist playlist;
    if (!dir.isValid()) {
        problem = QStringLiteral("无法创建临时文件夹");
        return false;
    }
    if (!ReadOne(address, headers, dir.path(), playlist, problem))
        return false;
    info = QJsonObject{{"address", address}, {"master", playlist.IsMaster}};
    if (!playlist.IsMaster) {
        info.insert("media", MediaInfo(address, playlist.Media));
        return true;
    }
    const int chosen = ChooseVariantIndex(playlist, choice);
    QJsonArray variants;
    for (size_t i = 0; i < playlist.Variants.size(); ++i) {
        const PlaylistVariant &v = playlist.Variants[i];
        variants.append(QJsonObject{{"number", int(i) + 1},
                                    {"bandwidth", double(v.Bandwidth)},
                                    {"resolution", v.Resolution},
                                    {"codecs", v.Codecs},
                                    {"audio", v.Audio},
                                    {"subtitles", v.Subtitles},
                                    {"address", v.Uri},
                                    {"chosen", int(i) == chosen}});
    }
    QJsonArray renditions;
    for (const PlaylistRendition &r : playlist.Renditions) {
        renditions.append(QJsonObject{{"type", r.Type},
                                      {"group", r.GroupId},
                                      {"name", r.Name},
                                      {"language", r.Language},
                                      {"default", r.Default},
                                      {"address", r.Uri}});
    }
    info.insert("variants", variants);
    info.insert("renditions", renditions);
    if (chosen < 0) {
        problem = QStringLiteral("主播放列表没有可用的码率");
        return false;
    }
    info.insert("audio", AudioRenditionFor(playlist, chosen));
    const QString variantUrl = playlist.Variants[size_t(chosen)].Uri;
    Playlist media;
    if (!ReadOne(variantUrl, headers, dir.path(), media, problem))
        return false;
    if (media.IsMaster) {
        problem = QStringLiteral("码率播放列表又是主播放列表: %1").arg(variantUrl);
        return false;
    }
    info.insert("media", MediaInfo(variantUrl, media.Media));
    return true;
}

QString PlaylistInfoText(const QJsonObject &info) {
    QString text = QStringLiteral("地址: %1\n").arg(info.value("address").toString());
    const auto orNone = [](const QString &value) {
        return value.isEmpty() ? QStringLiteral("-") : value;
    };
    if (info.value("master").toBool()) {
        const QJsonArray variants = info.value("variants").toArray();
        text += QStringLiteral("主播放列表, %1 个码率 (* 为将下载的码率):\n").arg(variants.size());
        for (const QJsonValue &value : variants) {
            const QJsonObject v = value.toObject();
            text +=
                QStringLiteral(
                    "%1 %2. 带宽 %3  分辨率 %4  编码 %5  音频组 %6  字幕组 %7\n"
                    "      %8\n")
                    .arg(v.value("chosen").toBool() ? QStringLiteral("*") : QStringLiteral(" "))
                    .arg(v.value("number").toInt())
                    .arg(qint64(v.value("bandwidth").toDouble()))
                    .arg(orNone(v.value("resolution").toString()),
                         orNone(v.value("codecs").toString()), orNone(v.value("audio").toString()),
                         orNone(v.value("subtitles").toString()), v.value("address").toString());
        }
        for (const QJsonValue &value : info.value("renditions").toArray()) {
            const QJsonObject r = value.toObject();
            text +=
                QStringLiteral("  %1 组 %2: %3  语言 %4%5  %6\n")
                    .arg(r.value("type").toString(), r.value("group").toString(),
                         orNone(r.value("name").toString()), orNone(r.value("language").toString()),
                         r.value("default").toBool() ? QStringLiteral("  默认") : QString(),
                         orNone(r.value("address").toString()));
        }
        if (!info.value("audio").toString().isEmpty())
            text += QStringLiteral("单独的音频: %1\n").arg(info.value("audio").toString());
    }
    const QJsonObject media = info.value("media").toObject();
    const QStringList methods = [&media] {
        QStringList list;
        for (const QJsonValue &method : media.value("encryption").toArray())
            list << method.toString();
        return list;
    }();
    text += QStringLiteral("媒体播放列表: %1\n").arg(media.value("address").toString());
    text += QStringLiteral("分段数: %1\n").arg(media.value("segments").toInt());
    text += QStringLiteral("总时长: %1 秒\n").arg(media.value("duration").toDouble(), 0, 'f', 3);
    text += QStringLiteral("加密: %1\n")
                .arg(methods.isEmpty() ? QStringLiteral("无") : methods.join(QStringLiteral(", ")));
    text += QStringLiteral("密钥数: %1\n").arg(media.value("keys").toInt());
    text += QStringLiteral("初始化段: %1\n").arg(media.value("initSections").toInt());
    text += QStringLiteral("字节范围分段: %1\n").arg(media.value("byteRanges").toInt());
    text += QStringLiteral("不连续点: %1\n").arg(media.value("discontinuities").toInt());
    text += QStringLiteral("直播: %1\n")
                .arg(media.value("live").toBool() ? QStringLiteral("是") : QStringLiteral("否"));
    return text;
}
