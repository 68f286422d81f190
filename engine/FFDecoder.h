// The decoder component: opens a media file through the libraries (or takes a container the
// transcoder opened) and answers questions about it: file facts, stream counts, per-stream
// facts of audio and video streams. TFFDecoder adds seeking, decoding one picture of a video
// stream and handing that picture over as an RGB bitmap.
//
// Failures are a false result (or -1) with the reason in LastErrMsg(); every message also goes
// to the engine logger. Exceptions: a library that is not bound makes LoadFile and
// AttachContext raise FFmpegException, and Seek on an attached (read-only) container raises.
// One thread at a time uses an instance.
#pragma once

#include "engine/Bitmap.h"
#include "engine/FFBaseComponent.h"
#include "engine/FFUtils.h"
#include "engine/Owners.h"
#include "engine/Picture.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

namespace cw {

// File facts. With no file every number is -1 and every text empty.
struct TFileStreamInfo {
    int64_t StartTime = -1; // microseconds; -1 when the library has no value
    int64_t Duration = -1;  // microseconds; -1 when the library has no value
    int32_t BitRate = -1;   // bits per second; 0 when unknown
    int64_t Timestamp = -1; // creation time, microseconds since 1970; 0 when the file has none
    int32_t Year = -1;      // 0 when the file has no such tag
    int32_t Track = -1;     // 0 when the file has no such tag
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// Audio stream facts. All numbers -1 until a request succeeds.
struct TAudioStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;   // in the stream's time base, as the stream reports it
    int64_t StartTimeUS = -1; // microseconds; -1 when the stream has no value
    int64_t Duration = -1;    // in the stream's time base, as the stream reports it
    int64_t DurationUS = -1;  // microseconds; -1 when the stream has no value
    int32_t BitRate = -1;
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t SampleFormat = -1; // AVSampleFormat
};

// Video stream facts. All numbers -1 until a request succeeds (height before width). Width,
// height and aspect ratio are those of the picture as shown: a display matrix that turns
// the stored picture on its side swaps them.
struct TVideoStreamInfo {
    std::string Language;
    std::string CodecName;
    int64_t StartTime = -1;
    int64_t StartTimeUS = -1;
    int64_t Duration = -1;
    int64_t DurationUS = -1;
    int32_t BitRate = -1;
    int32_t Height = -1;
    int32_t Width = -1;
    float AspectRatio = -1.0f; // display aspect ratio: sample aspect ratio * width / height
    int32_t PixelFormat = -1;  // AVPixelFormat
    int32_t FrameRateNum = -1;
    int32_t FrameRateDen = -1;
};

class TCustomDecoder : public TFFBaseComponent {
public:
    TCustomDecoder();
    ~TCustomDecoder() override;
    TCustomDecoder(const TCustomDecoder&) = delete;
    TCustomDecoder& operator=(const TCustomDecoder&) = delete;

    // Recomputes the file size, the counts and the first-stream indices.
    virtual void RefreshInfo();
    // Takes a container someone else opened and keeps it open (it is never closed here).
    virtual void AttachContext(AVFormatContext* context);
    // Forgets the file; closes the container when LoadFile opened it.
    virtual void CloseFile();

    // Opens the file (UTF-8 name); formatName forces an input format ("" probes).
    bool LoadFile(const std::string& fileName, const std::string& formatName = "");

    TFileStreamInfo GetFileStreamInfo();
    // A negative index means the first stream of the kind.
    TAudioStreamInfo GetAudioStreamInfo(int streamIndex);
    TVideoStreamInfo GetVideoStreamInfo(int streamIndex);
    // The open container's file name; empty with no file.
    std::string FileName();

    // The text of the last message, at any level; meaningful right after a false result.
    const std::string& LastErrMsg() const { return LastError; }
    const std::string& ForcedFormat() const { return Forced; }
    int64_t FileSize() const { return Size; }
    int StreamCount() const { return Streams; }
    int ProgramCount() const { return Programs; }
    int AudioStreamCount() const { return AudioCount; }
    // Video streams and the first of them leave cover pictures out (attached pictures are
    // cover art, not a file's video); the streams themselves can still be asked by index.
    int VideoStreamCount() const { return VideoCount; }
    int SubtitleStreamCount() const { return SubtitleCount; }
    int FirstAudioStream() const { return FirstAudio; }
    int FirstVideoStream() const { return FirstVideo; }
    int FirstSubtitleStream() const { return FirstSubtitle; }

    // The open container (null with no file) and whether LoadFile opened it.
    AVFormatContext* Context() const { return Input; }
    bool OwnsContext() const { return Owner; }

protected:
    // Logs at a library level (16, 24, 32, 48) and keeps the text as LastErrMsg.
    void Message(int libraryLevel, const std::string& text);
    // Logs without touching LastErrMsg (debug lines after a failure keep its reason).
    static void LogOnly(int libraryLevel, const std::string& text);
    void SetLastError(const std::string& text) { LastError = text; }
    // Raises FFmpegException naming the first library that is not bound.
    static void CheckLibraries();
    // Stream of the container; the caller checks the index.
    AVStream* StreamAt(int index) const;
    // The stream's time base with a zero denominator repaired in place.
    static void RepairTimeBase(AVStream* stream);
    bool IsImage2() const;

private:
    // Common part of the stream requests: record cleared by the caller; false with the
    // message logged when the index does not name a stream of the kind.
    bool CheckStream(int& index, int mediaType, const char* kindName);
    template <class TInfo> void FillCommon(AVStream* stream, TInfo& info);

    AVFormatContext* Input = nullptr;
    bool Owner = false;
    TInputContextPtr OwnedInput; // Input when the decoder opened it itself (Owner)
    std::string LastError;
    std::string Forced;
    int64_t Size = -1;
    int Streams = -1;
    int Programs = -1;
    int AudioCount = -1;
    int VideoCount = -1;
    int SubtitleCount = -1;
    int FirstAudio = -1;
    int FirstVideo = -1;
    int FirstSubtitle = -1;
};

class TFFDecoder : public TCustomDecoder {
public:
    TFFDecoder();
    ~TFFDecoder() override;

    void RefreshInfo() override;
    void CloseFile() override;

    // flags: the library's seek flags (low four bits): AVSEEK_FLAG_BACKWARD 1, AVSEEK_FLAG_BYTE
    // 2 (position in bytes, else microseconds), AVSEEK_FLAG_ANY 4, AVSEEK_FLAG_FRAME 8.
    bool Seek(uint8_t flags, int64_t position);
    // A negative index: the current video stream, else the first one. Returns the index or -1.
    int SelectVideoStream(int streamIndex);
    // Decodes the next picture of the video stream (index as for SelectVideoStream).
    bool Decode(int streamIndex);
    // The last decoded picture as an RGB bitmap in the bitmap's layout (24 bits when its
    // layout is not one the converter makes), turned upright as the stream's display matrix
    // asks. On failure the bitmap is black, false.
    bool CopyToBitmap(TBitmap& bitmap);

    // Deinterlaces every decoded picture (off at first; switched off again when it fails).
    bool Deinterlace() const { return DeinterlaceOn; }
    void SetDeinterlace(bool on) { DeinterlaceOn = on; }

    // First video stream, else first audio stream, else -1.
    int DefaultStream() const { return DefaultStreamIndex; }
    // Start of the default stream in its time base (the file's start time in microseconds
    // when there is none; 0 when unknown).
    int64_t StartTime() const { return Start; }
    int CurrentVideoStream() const { return CurrentVideo; }
    bool PictureReady() const { return Ready; }
    bool EndOfStream() const { return AtEnd; }

    // The last decoded picture (valid while PictureReady()).
    const TPicture& Picture() const { return Stored; }
    int PicturePixelFormat() const { return StoredFormat; }
    int PictureWidth() const { return StoredWidth; }
    int PictureHeight() const { return StoredHeight; }
    bool KeyFrame() const { return Key; }
    int PictureType() const { return PictType; } // 0 to 7
    // Time of the picture in microseconds from the stream start (-1 when unknown), and the
    // time of the picture before it.
    int64_t FrameTime() const { return Time; }
    int64_t LastFrameTime() const { return PreviousTime; }
    // Time stamps of the packet behind the picture, in the stream's time base.
    int64_t PacketDTS() const { return Dts; }
    int64_t PacketPTS() const { return Pts; }
    int PacketStreamIndex() const { return PacketStream; }
    // Byte position of the input before the picture's packets were read (-1 without one),
    // and that of the picture before.
    int64_t PacketPosition() const { return Position; }
    int64_t LastPacketPosition() const { return PreviousPosition; }

    TFormatConverter& Converter() { return FormatConverter; }

private:
    using TBuffer = TMemoryPtr;

    void ResetPicture();
    void CloseVideoDecoder();
    void FlushDecoders();
    bool OpenVideoDecoder(int index);
    // Runs the picture through the deinterlacer into DeinterlaceBuffer; false on failure.
    bool DeinterlacePicture(const AVFrame* frame, int64_t pts, TPicture& result);
    // False when the picture buffer cannot grow.
    bool StorePicture(const AVFrame* frame, const TPicture& picture, int64_t position);
    static bool GrowBuffer(TBuffer& buffer, size_t& capacity, size_t size);

    TFormatConverter FormatConverter;
    int DefaultStreamIndex = -1;
    int64_t Start = -1;
    int CurrentVideo = -1;
    TCodecContextPtr VideoCodec;
    int VideoCodecStream = -1;
    bool Draining = false; // the decoder was told the stream has ended
    TFramePtr Frame;
    TPacketPtr Packet;
    int64_t LastPacketPts = -1; // presentation stamp of the last packet handed to the decoder

    TBuffer PictureBuffer;
    size_t PictureCapacity = 0;
    TPicture Stored;
    int StoredFormat = -1;
    int StoredWidth = 0;
    int StoredHeight = 0;
    bool Key = false;
    int PictType = 0;
    int64_t Time = -1;
    int64_t PreviousTime = -1;
    int64_t Dts = -1;
    int64_t Pts = -1;
    int PacketStream = -1;
    int64_t Position = -1;
    int64_t PreviousPosition = -1;
    bool Ready = false;
    bool AtEnd = false;

    bool DeinterlaceOn = false;
    TBuffer DeinterlaceBuffer;
    size_t DeinterlaceCapacity = 0;
};

} // namespace cw
