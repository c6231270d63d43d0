// Checks the shape of the configuration file for any flags and texts, and now
// and then that WriteConfigFile puts exactly those bytes on disk.
//
// Input: four bytes of control bits (little-endian), then the texts separated
// by U+0000: the frequency, then messages 0 to 9; the last text present takes
// the rest, separators included, and missing texts keep their initial value.
// Control bits 0-24 flip flags from their initial state and bit 25 reads the
// texts as UTF-16 instead of UTF-8. Inputs whose FNV-1a hash is a multiple of
// 64 also write the file: writing syncs to disk, and a hash keeps that share
// near 1/64, where a control bit would spread through the corpus.

#include "config_file_writer.h"
#include "fuzz_text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>

using namespace ornivex;

namespace {

constexpr std::size_t kControlBytes = 4;
constexpr int kLineCount = 46;
constexpr int kFrequencyLine = 33;
constexpr int kFirstMessageLine = 37;

ConfigSnapshot snapshotFrom(std::uint32_t control, std::span<const std::uint8_t> textBytes)
{
    ConfigSnapshot snapshot = ConfigSnapshot::initial();
    for (std::size_t i = 0; i < snapshot.flags.size(); ++i)
        snapshot.flags[i] = snapshot.flags[i] != (((control >> i) & 1) != 0);

    const QString all = fuzz::textFromBytes(textBytes, (control >> 25) & 1);
    std::array<std::u16string *, 1 + OptionCatalogue::kMessageCount> texts{&snapshot.frequency};
    for (std::size_t i = 0; i < snapshot.messages.size(); ++i)
        texts[i + 1] = &snapshot.messages[i];
    qsizetype start = 0;
    for (std::u16string *text : texts) {
        const qsizetype separator = text == texts.back() ? -1 : all.indexOf(QChar(0), start);
        *text = all.sliced(start, (separator < 0 ? all.size() : separator) - start).toStdU16String();
        if (separator < 0)
            break;
        start = separator + 1;
    }
    return snapshot;
}

// Shows the frequency and the messages as the input gave them and stops.
[[noreturn]] void failFor(const ConfigSnapshot &snapshot, const std::string &what)
{
    QStringList texts{fuzz::qtText(snapshot.frequency)};
    for (const std::u16string &message : snapshot.messages)
        texts << fuzz::qtText(message);
    fuzz::failOn(texts.join(QChar(0)), what);
}

// A directory of our own for the written file, removed again at exit; in
// memory where possible, since every write syncs to disk.
const QString &scratchDirectory()
{
    static const QTemporaryDir directory(QDir("/dev/shm").exists() ? "/dev/shm/ornivex-fuzz-XXXXXX"
                                                                   : QDir::tempPath() + "/ornivex-fuzz-XXXXXX");
    static const QString path = directory.path();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint32_t control = 0;
    const std::size_t controlSize = std::min(size, kControlBytes);
    for (std::size_t i = 0; i < controlSize; ++i)
        control |= std::uint32_t{data[i]} << (8 * i);
    const ConfigSnapshot snapshot = snapshotFrom(control, {data + controlSize, size - controlSize});
    const QByteArray file = QByteArray::fromStdString(FormatConfigFile(snapshot));

    // Splitting on LF must give 46 lines that each end in CR and hold no other CR.
    const QList<QByteArray> lines = file.split('\n');
    if (lines.size() != kLineCount + 1 || !lines.back().isEmpty())
        failFor(snapshot, "the file does not hold 46 lines ending in LF");
    for (int i = 0; i < kLineCount; ++i) {
        if (!lines[i].endsWith('\r') || lines[i].count('\r') != 1)
            failFor(snapshot, "line " + std::to_string(i + 1) + " has a bare CR or lacks CR LF");
    }

    // A passing frequency is ASCII, so Latin-1 is its Windows-1252 form.
    const QByteArray frequencyLine = "messagefrequency="
        + (IsFrequencyNumber(snapshot.frequency) ? fuzz::qtText(snapshot.frequency).toLatin1() : QByteArray("2"))
        + '\r';
    if (lines[kFrequencyLine - 1] != frequencyLine)
        failFor(snapshot, "wrong frequency line: " + lines[kFrequencyLine - 1].toStdString());

    // Each character, a surrogate pair or a lone surrogate alike, becomes one byte.
    for (int i = 0; i < OptionCatalogue::kMessageCount; ++i) {
        const QString message = fuzz::qtText(snapshot.messages[static_cast<std::size_t>(i)]);
        const QByteArray &line = lines[kFirstMessageLine - 1 + i];
        const char mark[] = {'<', static_cast<char>('0' + i), '>'};
        if (!line.startsWith(QByteArrayView(mark, sizeof mark)) || line.size() != 3 + message.toUcs4().size() + 1)
            failFor(snapshot, "message line " + std::to_string(i) + " lacks its mark or has the wrong length");
    }

    std::uint32_t hash = 2166136261;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619;
    if (hash % 64 == 0) {
        WriteConfigFile(snapshot, QFile::encodeName(scratchDirectory()).toStdString());
        QFile written(scratchDirectory() + '/' + kConfigFileName);
        if (!written.open(QIODevice::ReadOnly) || written.readAll() != file)
            failFor(snapshot, "the file on disk differs from FormatConfigFile");
    }
    return 0;
}
