#include "app/config/Settings.h"

#include "app/config/IniFile.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Class.h"

#include <QUrl>

bool SoundTips = true;
bool BalloonHint = true;
unsigned LimitTasks = 1;
bool NoM3uPreName = false;

namespace {

const QString kOptions = QStringLiteral("Options");
const QString kHistory = QStringLiteral("History");
const QString kProxy = QStringLiteral("Proxy");

}  // namespace

QStringList ProxyTypeItems() {
    return {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp")};
}

QString ProxyTypeText(int index) {
    const QStringList items = ProxyTypeItems();
    return index >= 0 && index < items.size() ? items.at(index) : QString();
}

QStringList VariantItems() {
    return {QStringLiteral("第一个"), QStringLiteral("最高码率"), QStringLiteral("最低码率")};
}

QStringList LimitTaskItems() {
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
            QStringLiteral("5")};
}

int PageIndexFromNumber(int number) {
    return ((number % SettingsPageCount) + SettingsPageCount) % SettingsPageCount;
}

unsigned LimitTasksFromNumber(int number) {
    return number < 1 || number > 5 ? 1u : unsigned(number);
}

int ProxyTypeFromNumber(int number) {
    return number < 0 || number >= ProxyTypeItems().size() ? -1 : number;
}

SettingsValues ReadSettings(const IniFile &ini) {
    SettingsValues v;
    v.pageIndex = PageIndexFromNumber(ini.ReadInteger(kOptions, "PageIndex", DefaultPageIndex));
    v.soundTips = ini.ReadBool(kOptions, "SoundTips", true);
    v.balloonHint = ini.ReadBool(kOptions, "BalloonHint", true);
    v.limitTasks = LimitTasksFromNumber(ini.ReadInteger(kOptions, "LimitTasks", 1));
    v.segmentJobs = SegmentConcurrencyFromNumber(
        ini.ReadInteger(kOptions, "SegmentJobs", DefaultSegmentConcurrency));
    v.m3u8Url = ini.ReadString(kHistory, "M3u8Url", QString());
    v.m3u8Out = ini.ReadString(kHistory, "M3u8Out", QString());
    v.noM3uPreName = ini.ReadBool(kOptions, "NoM3uPreName", false);
    v.variant = VariantChoiceFromName(ini.ReadString(kOptions, "Variant", QString()));
    v.recordLive = ini.ReadBool(kOptions, "RecordLive", true);
    v.version = ini.ReadString(kOptions, "Version", QString());
    v.useProxy = ini.ReadBool(kProxy, "UseProxy", false);
    v.proxyType = ProxyTypeFromNumber(ini.ReadInteger(kProxy, "ProxyType", 0));
    v.proxyHost = ini.ReadString(kProxy, "ProxyHost", QString());
    v.proxyPort = ini.ReadString(kProxy, "ProxyPort", QString());
    v.proxyUser = ini.ReadString(kProxy, "ProxyUser", QString());
    v.proxyPwd = ini.ReadString(kProxy, "ProxyPwd", QString());
    return v;
}

void ApplySettings(const SettingsValues &v) {
    SoundTips = v.soundTips;
    BalloonHint = v.balloonHint;
    LimitTasks = v.limitTasks;
    SegmentConcurrency = SegmentConcurrencyFromNumber(v.segmentJobs);
    NoM3uPreName = v.noM3uPreName;
    VariantPreference = v.variant;
    TM3u8::SetRecordLive(v.recordLive);
    ProxyEnabled = v.useProxy;
    ProxyString = BuildProxyString(ProxyTypeText(v.proxyType), v.proxyHost, v.proxyPort,
                                   v.proxyUser, v.proxyPwd);
}

bool SaveSettings(IniFile &ini, const SettingsValues &page,
                  const std::function<void()> &fillNewSlots) {
    bool written = true;
    SoundTips = page.soundTips;
    written = ini.WriteBool(kOptions, "SoundTips", SoundTips) && written;
    BalloonHint = page.balloonHint;
    written = ini.WriteBool(kOptions, "BalloonHint", BalloonHint) && written;
    LimitTasks = LimitTasksFromNumber(int(page.limitTasks));
    written = ini.WriteInteger(kOptions, "LimitTasks", int(LimitTasks)) && written;
    // Taken by the next aria2c run; runs under way keep theirs.
    SegmentConcurrency = SegmentConcurrencyFromNumber(page.segmentJobs);
    written = ini.WriteInteger(kOptions, "SegmentJobs", SegmentConcurrency) && written;
    NoM3uPreName = page.noM3uPreName;
    written = ini.WriteBool(kOptions, "NoM3uPreName", NoM3uPreName) && written;
    VariantPreference = page.variant;
    written = ini.WriteString(kOptions, "Variant", VariantChoiceName(VariantPreference)) && written;
    // Taken by the next task that starts; a recording under way goes on.
    TM3u8::SetRecordLive(page.recordLive);
    written = ini.WriteBool(kOptions, "RecordLive", page.recordLive) && written;
    if (fillNewSlots) {
        fillNewSlots();
    }
    ProxyEnabled = page.useProxy;
    written = ini.WriteBool(kProxy, "UseProxy", ProxyEnabled) && written;
    written = ini.WriteInteger(kProxy, "ProxyType", ProxyTypeFromNumber(page.proxyType)) && written;
    written = ini.WriteString(kProxy, "ProxyHost", page.proxyHost) && written;
    written = ini.WriteString(kProxy, "ProxyPort", page.proxyPort) && written;
    written = ini.WriteString(kProxy, "ProxyUser", page.proxyUser) && written;
    written = ini.WriteString(kProxy, "ProxyPwd", page.proxyPwd) && written;
    ProxyString = BuildProxyString(ProxyTypeText(page.proxyType), page.proxyHost, page.proxyPort,
                                   page.proxyUser, page.proxyPwd);
    return written;
}

void WriteExitSettings(IniFile &ini, const QString &version, const QString &m3u8Url,
                       const QString &m3u8Out, int pageIndex) {
    ini.WriteString(kOptions, "Version", version);
    ini.WriteString(kHistory, "M3u8Url", m3u8Url);
    ini.WriteString(kHistory, "M3u8Out", m3u8Out);
    ini.WriteInteger(kOptions, "PageIndex", pageIndex);
}

QString BuildProxyString(const QString &proxyType, const QString &host, const QString &port,
                         const QString &user, const QString &password) {
    const QString type = proxyType.trimmed();
    const QString h = host.trimmed();
    const QString p = port.trimmed();
    const QString u = user.trimmed();
    const QString pw = password.trimmed();
    if (type.isEmpty() || h.isEmpty() || p.isEmpty()) {
        return QString();
    }
    if (!u.isEmpty() && !pw.isEmpty()) {
        // "@", ":" and "/" inside the credentials would otherwise end them early; the
        // sub-delimiters may stand in user information as they are.
        const QByteArray keep("!$&'()*+,;=");
        const QString user = QString::fromUtf8(QUrl::toPercentEncoding(u, keep));
        const QString pass = QString::fromUtf8(QUrl::toPercentEncoding(pw, keep));
        return type + "://" + user + ":" + pass + "@" + h + ":" + p;
    }
    return type + "://" + h + ":" + p;
}
