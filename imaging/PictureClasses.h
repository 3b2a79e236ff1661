#pragma once
// The picture registry's classes, put there by one routine that every program opening
// pictures by their names runs at its start. No class registers itself: a class whose
// object file nothing else names would be left out of a program by the linker, and its
// pictures would silently fail to open.
namespace plm {

// Registers BMP, ICO, PNG and TIFF (read through Qt's image readers), GIF, JPEG and PCX
// with TPicture. Calling it again changes nothing.
void RegisterPictureClasses();

} // namespace plm
