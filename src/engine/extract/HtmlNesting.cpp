#include "engine/extract/HtmlNesting.h"

#include "engine/extract/nesting/NestingPass.h"

// The pass itself is in nesting/, split by what its steps do.
HtmlNesting::Cost HtmlNesting::of(QByteArrayView utf8, TreeTags* tags) { return Model::Pass(utf8, tags).run(); }

bool HtmlNesting::leavesForeignContent(GumboTag tag) { return Model::flags.html[tag] & Model::Breakout; }
