# Makes the thumbnail of one file through GNOME's thumbnail factory, as the GNOME file
# manager does (generate, then save in the user's cache), and prints its width and
# height. Exit status 77: no factory on this system.
import sys

try:
    import gi
    gi.require_version('GnomeDesktop', '3.0')
    from gi.repository import GnomeDesktop, Gio
except (ImportError, ValueError) as e:
    print(e)
    sys.exit(77)
if len(sys.argv) < 2:
    sys.exit(0)  # the probe: the factory is there

f = Gio.File.new_for_path(sys.argv[1])
info = f.query_info('standard::content-type,time::modified', 0, None)
uri, mime = f.get_uri(), info.get_content_type()
mtime = info.get_attribute_uint64('time::modified')
factory = GnomeDesktop.DesktopThumbnailFactory.new(GnomeDesktop.DesktopThumbnailSize.NORMAL)
if not factory.can_thumbnail(uri, mime, mtime):
    print('no thumbnailer for', mime)
    sys.exit(3)
picture = factory.generate_thumbnail(uri, mime, None)
factory.save_thumbnail(picture, uri, mtime, None)
print(picture.get_width(), picture.get_height())
