// State the converter keeps for its one job: the default option contexts,
// the remembered option names, the opened inputs and outputs and the job's
// audio and video parameters. Filled on the worker thread by the option
// parsing, OpenInput and OpenOutput, read by the transcoder.
#pragma once

#include "av/FFmpeg.h"

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <memory>
#include <vector>

namespace korvane {

class TAVConverter;
class TAVConvertOptions;

struct TAVStreamMap
{
    int file = 0;
    int stream = 0;
    int syncFile = 0;
    int syncStream = 0;
};

// An object that must outlive an input's format context (custom I/O).
struct InputResource
{
    virtual ~InputResource() = default;
    // Why reading failed, in the source's own words (a capture device that
    // fell silent); empty to use the library's error text.
    virtual QString FailureText() const { return {}; }
    // Called once the outputs are open and their headers written.
    virtual void OutputsReady() {}
};

struct InputEntry
{
    av::InputContextPtr ctx;
    int64_t tsOffsetUs = 0;                   // added to every timestamp of this input
    std::array<double, 20> scales{};          // timestamp scale per stream, 0 = unscaled
    std::unique_ptr<InputResource> resource;  // destroyed after ctx (declared before it)
    // a made-up source (silence, black pictures) for a container that needs a
    // stream the job's inputs lack; it lasts as long as the real inputs
    bool filler = false;
    bool endsWithRealInputs = false; // a filler of unknown length
    InputEntry() = default;
    InputEntry(InputEntry&&) = default;
    InputEntry& operator=(InputEntry&&) = default;
    ~InputEntry() { ctx.reset(); resource.reset(); }
};

// One stream created by OpenOutput, with the encoder context that the
// transcoder completes and opens.
struct OutputStreamSetup
{
    AVStream* stream = nullptr;
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    bool streamCopy = false;
    const AVCodec* encoder = nullptr;   // none for stream copy
    av::CodecContextPtr codec;          // encoder settings (also kept for stream copy)
    QStringList bitstreamFilters;       // validated names, built once parameters are known
};

struct OutputEntry
{
    av::OutputContextPtr ctx;
    std::vector<OutputStreamSetup> streams;  // in stream index order
    QString createdFile;                     // the file this job created (it did not exist before)
    int64_t packetsWritten = 0;              // media handed to the muxer
};

struct JobParams
{
    int channels = 0;
    int sampleRate = 0;
    int sampleFormat = -1;
    AVChannelLayout layout{};
    int frameWidth = 0;
    int frameHeight = 0;
};

struct ConverterEngine
{
    explicit ConverterEngine(TAVConverter* owner);
    TAVConverter* const owner;
    std::atomic<bool> openingOutputs{false};
    ~ConverterEngine();

    // Default option contexts: targets of the free-form options and the
    // sources copied into every new stream. Index by AVMediaType 0..4.
    std::array<av::CodecContextPtr, 5> defaultCodec;
    av::FormatContextPtr defaultFormatOwner;
    av::SwsPtr defaultScalerOwner;
    AVFormatContext* defaultFormat = nullptr; // defaultFormatOwner, or none once released
    SwsContext* defaultScaler = nullptr;      // defaultScalerOwner, or none once released
    QStringList optionNames;                  // names set, as passed (prefix included)
    // Options that only an encoder's or a muxer's private class knows; given
    // to the encoder or muxer whose class has them.
    std::vector<std::pair<QString, QString>> privateOptions;

    std::vector<TAVStreamMap> streamMaps;
    const AVInputFormat* forcedInput = nullptr;
    const AVOutputFormat* forcedOutput = nullptr;
    JobParams job;
    // the frame rate the options asked for before the inputs were opened;
    // 0/0 when they left the default, and the input's rate is used
    AVRational requestedRate{0, 0};
    // the pixel format the options named before the inputs were opened (an
    // input replaces PixelFormat with its own); -1 when they named none
    int requestedPixelFormat = -1;

    std::vector<InputEntry> inputs;
    std::vector<OutputEntry> outputs;

    void ReleaseDefaults();
    void CloseFiles();
    // A failed job removes the outputs it created without writing media into
    // them (an empty file or a bare header); an output with media stays.
    void RemoveEmptyOutputs();
};

// Copies each remembered option that the source knows with all bits of mask
// into target (codec or format contexts).
void CopyContextOptions(void* target, void* source, const QStringList& names, int mask);
// Private options the given class knows, as a dictionary for avcodec_open2
// or avformat_write_header.
void AddPrivateOptions(const ConverterEngine& engine, const AVClass* const* cls, AVDictionary** dict);

// The options a job's muxer gets when its header is written (preload, loop,
// the muxer's private options).
void MuxerHeaderOptions(const ConverterEngine& engine, const TAVConvertOptions& options,
                        const AVOutputFormat* format, AVDictionary** dict);

// The encoder name to use for name: itself when this build has it, else a
// stand-in (libfaac -> aac, ...), with a note for the log.
QString EncoderAlias(const QString& name, QString* note);
// Codec id of the encoder (or decoder) named name, 0 for an empty name.
// Raises "Unknown Codec Name" or "Invalid codec type".
AVCodecID FindCodec(const QString& name, AVMediaType type, bool encoder);

// The I/O interrupt callback of a job's inputs (opaque: the converter): a
// stop request also ends a blocking open or read.
int StopRequestedCallback(void* opaque);
// The same for outputs (opaque: the engine), only while they are being
// opened: after a stop the trailers must still be written.
int OutputOpenInterruptCallback(void* opaque);

// Opening inputs and outputs; raise EEngineError with the user's message.
void OpenInput(TAVConverter& converter, ConverterEngine& engine, int index);
void OpenOutput(TAVConverter& converter, ConverterEngine& engine, int index);

} // namespace korvane
