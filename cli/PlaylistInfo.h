#pragma once
// korvi-get --info: what a playlist holds, read without fetching a segment.

#include <QJsonObject>
#include <QString>

#include "hls/M3u8Helpers.h"

// Fetches the playlist (and, for a master, the variant `choice` takes) with the task's headers
// and describes it. False, with `problem`, when a playlist cannot be fetched or read.
bool ReadPlaylistInfo(const QString &address, const QString &headers, VariantChoice choice,
                      QJsonObject &info, QString &problem);

// The description as lines for a person.
QString PlaylistInfoText(const QJsonObject &info);
