// Builds a window's controls from a layout file of the skin package.
//
// A layout's root element is <Window> with the window's attributes (size,
// mininfo, caption, sizebox, roundcorner). Inside it: <Font id name size bold
// default/>, <Default name="Tag" attr.../> (attributes every control of that
// tag starts with), <Style name="..." attr.../> (attributes a control takes
// with style="..."), <Include source="xml/x.xml"/> (the file's content in
// place), and one tree of controls. Attributes apply in order: the tag's
// defaults, the style, then the element's own.
#pragma once

#include <QString>

namespace sorvane::skin {

class Window;

// Builds `file` into `window`. False (with `error` set) when a file is missing
// or malformed, or an element is neither known nor made by the window's factory.
bool BuildLayout(Window& window, const QString& file, QString* error);

}  // namespace sorvane::skin
