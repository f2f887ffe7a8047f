#pragma once
#include "ThumbnailInfo.h"

#include <QString>
#include <QStringList>
#include <vector>

// Z-stack slice files for the browser and loading tests, written by ImReaderWriter as the page
// writes them: a seeded frame and a metadata text with an objective and (unless empty) a
// "Z Position".
namespace SliceFiles {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
extern const QString kObjective10X; // "Objective: Olympus 10X NA 0.25 UPlanFL"

// A frame's samples (plain intensities for 16 bits); value of sample i is (seed * 977 + i * 13) masked
// to the depth, so every 16-bit value appears.
QByteArray frame(int bits, int samplesPerPixel, int seed, int width = kWidth, int height = kHeight);
// Writes path; z is the text after "Z Position: " (none when empty). False when not written.
bool write(const QString &path, const QString &z, int bits = 8, int samplesPerPixel = 1, int seed = 0,
           const QString &objective = kObjective10X, int width = kWidth, int height = kHeight);
// Thumbnail entries (a small grey picture each) for paths, as the page holds them.
std::vector<ThumbnailInfo> entries(const QStringList &paths);

} // namespace SliceFiles
