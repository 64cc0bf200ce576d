// The page's styles and script, made from page.css and page.js at build time.
#pragma once

namespace traceview {

extern const char kPageStyle[];
extern const char kPageScript[];

} // namespace traceview
