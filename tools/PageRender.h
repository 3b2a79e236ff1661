#pragma once
// The page of a template as the viewer's browser shows it, rendered without a screen: the
// template is unpacked and rewritten in a private temporary folder (removed on every path,
// Ctrl-C and SIGTERM included), then loaded at the browser's design size with the viewer's
// lock-down. Needs a QApplication; raises what the preview raises, or when the page does
// not load.
#include <QImage>

#include <string>

namespace plmtool {

QImage RenderTemplatePage(const std::string &templatePath);

} // namespace plmtool
