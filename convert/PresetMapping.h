// From the chosen class, format and preset to the encoder's option records, and the names of
// the output files. The values live in the preset table of the catalogue (Catalogue.cpp):
// values of a whole format and one row per preset, beside the preset's text.
#pragma once

#include "app/GlobalVars.h"
#include "engine/EncoderOptions.h"

#include <cstdint>
#include <set>
#include <string>

namespace cw {

// The choice a conversion uses: active class, that class's selected format and that format's
// preset. Numbers outside the catalogue are kept as they are; the mapping then sets less.
struct TOutputSelection {
    int Class = -1;
    int Format = -1;
    int Preset = -1;
};

// The selection as the state record holds it at this moment. Format is -1 for a class outside
// the catalogue, Preset -1 for a format outside it.
TOutputSelection CurrentSelection(const TGlobalVars& vars);

// The extension of the selected format (".avi"); empty when class or format is unknown.
std::string SelectionExtension(const TOutputSelection& selection);

// What the mapping needs to know of an opened input file, as the decoder reports it.
struct TProbedInput {
    std::string FileName;     // the opened file's name
    std::string ForcedFormat; // the format name forced when it was opened; empty: probed
    int32_t AudioBitRate = 0; // bit rate of its first audio stream; 0 (or less): none known
};

// Output paths already handed out in this run, so that two inputs of one run never share an
// output (clip.avi and clip.mkv both becoming clip.mp4).
using TPlannedNames = std::set<std::string>;

// Output naming. The folder gets a trailing separator; the name is made unique against the
// files that exist (clip.mp4, clip(1).mp4, ...) and, when planned is given, against the paths
// in it; the chosen path is then added to planned.
// Per file: the input's name without folder, with its extension replaced by ext (removed
// when ext is empty).
std::string FileOutputPath(const std::string& outputFolder, const std::string& inputFileName,
                           const std::string& ext, TPlannedNames* planned = nullptr);
// Joining all inputs into one file: "Output_Merge" + ext.
constexpr const char* MergeOutputBaseName = "Output_Merge";
std::string MergeOutputPath(const std::string& outputFolder, const std::string& ext,
                            TPlannedNames* planned = nullptr);

// How the preset is used: one task per file, or one task joining every file.
enum TMappingMode { mmPerFile, mmMerge };

// Applies the class, format-level and preset values to an initialised record. An unknown
// class sets nothing, an unknown format sets only what the class sets, an unknown preset
// only what class and format set. sourceAudioBitrate is what the lossless WMA preset copies
// in per-file mode.
void ApplyPresetOptions(TOutputOptions& options, const TOutputSelection& selection,
                        TMappingMode mode, int32_t sourceAudioBitrate = 0);

// The output options for one input file in per-file mode: initialised record, output path,
// then the selection's values.
TOutputOptions FileOutputOptions(const TOutputSelection& selection, const std::string& outputFolder,
                                 const TProbedInput& input, TPlannedNames* planned = nullptr);
// The input options for one file: initialised, with the file name and forced format.
TInputOptions FileInputOptions(const TProbedInput& input);
// The output options of the joining task: the selection's values, Join on and the merge
// output path.
TOutputOptions MergeOutputOptions(const TOutputSelection& selection,
                                  const std::string& outputFolder,
                                  TPlannedNames* planned = nullptr);

// The same, with the selection and output folder (OutputFileDir) of the state record.
TOutputOptions FileOutputOptions(const TGlobalVars& vars, const TProbedInput& input,
                                 TPlannedNames* planned = nullptr);
TOutputOptions MergeOutputOptions(const TGlobalVars& vars, TPlannedNames* planned = nullptr);

// The two option blocks of the H.264 encoder that device presets use.
extern const char X264DeviceOptions[]; // 18 lines, each ended by CR LF
extern const char X264PspOptions[];    // 23 lines, the last without a line break

} // namespace cw
