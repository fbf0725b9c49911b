// The demo's operator form, read from a readable description (see
// demo-overview.txt) into a form document that the program's own form file
// code then writes.
//
// One item a line, in drawing order: a kind, then name=value settings.
// Values with blanks are quoted ("..."). Positions and sizes are pixels of
// the form, colours #rrggbb, fonts face/pixel-height[/bold].
//   form    rate=<ms> frame=<left>,<top>,<width>,<height> background=<colour>
//   text    at=<x>,<y> [size=<w>,<h>] text=".." [font=..] [colour=..] [back=..]
//   rect    box=<x>,<y>,<w>,<h> [line=..] [width=<px>] [fill=..]
//   value   at=<x>,<y> tag=<name> [font=..] [colour=..] [back=..] [write=1]
//   bar     box=.. tag=<name> low=<v> high=<v> [fill=..] [back=..]
//           [border=<colour>] [borderwidth=<px>] [scale=1] [horizontal=1]
//   hottext box=.. text=".." logic=<block> [font=..] [colour=..] [back=..]
//           [border=..] [borderwidth=<px>]
//   trend   box=.. minutes=<span> points=<n> [back=..] [border=..] [grid=1]
//           [scale=1] pen=<tag>,<colour>,<width>,<low>,<high> (up to five)
// A value or text without back= is transparent.
#pragma once

#include <string>

class CPlexmarDoc;

// Reads the description at `path` into `doc`. False with `error` naming the
// line and what is wrong with it; `doc` is then incomplete.
bool ReadDemoForm(const std::string& path, CPlexmarDoc& doc, std::string& error);
