// Translation of the stored video filter description into a libavfilter
// graph description.
//
// The stored text (FilterOptions.VideoFilters, kept byte for byte in the
// history) is a list of elements joined by ",":
//   vflip | hflip | negate
//   drawbox=X:Y:W:H:Color
//   rotate=DEG                      whole degrees, clockwise, canvas enlarged
//   movie=0:png:PATH [wm];[in][wm] overlay=X:Y:1 [out]          (a logo)
//   drawtext=fontfile='F'#text='T'#x=X#y=Y#fontsize=S#fgcolor=0xRRGGBBAA#bgcolor=0xRRGGBBAA
//   ass=filename$F#font$F#color$0xRRGGBB00[#codepage$CP]
// Backslashes in stored paths are doubled; a "\n" in drawtext text is a line
// break. Any other element is today's libavfilter text and passes through
// unchanged.
//
// The result is meant for avfilter_graph_parse_ptr() with the open output
// of the chain before the user filters named "in" and the open input of the
// buffersink named "out". Paths and texts are escaped for both parsing
// levels of libavfilter, so no character in them changes the graph.
#pragma once

#include <QString>

namespace korvane {

// The picture entering the user filters (after the engine's own scaler).
struct FilterInput
{
    int width = 0;
    int height = 0;
    int pixelFormat = -1; // AVPixelFormat; -1 when unknown
};

// Today's graph description for a stored filter text. Empty stored text
// gives an empty result (no user filters: link straight to the sink); a
// non-empty text that reduces to nothing (e.g. "rotate=0") gives "null".
// A malformed element of the stored syntax raises EEngineError.
QString BuildFilterGraphText(const QString& stored, const FilterInput& input);

// A whole graph around the user's one: [in] through head (a filter chain,
// empty for none) into the user's graph, and its end through tail into
// [out]. The user's text may use the [in] and [out] labels itself; they are
// renamed, and both its ends are always linked.
QString WrapUserGraph(const QString& user, const QString& head, const QString& tail);

// Output size of a rotation by a whole number of degrees about the centre,
// with the canvas enlarged to hold the whole picture (float geometry of the
// rotation filter, truncated). No rounding for chroma subsampling.
struct RotatedSize
{
    int width = 0;
    int height = 0;
};
RotatedSize RotatedCanvas(int width, int height, int degrees);

// Backslash escaping of one option value inside a filter's argument list
// (level 1) and of a filter's whole argument list inside a graph (level 2).
QString EscapeFilterValue(const QString& value);
QString EscapeFilterArguments(const QString& arguments);

} // namespace korvane
