# SPDX-License-Identifier: GPL-3.0-or-later
# The icons, rendered from the one drawing app/icons/velk.svg at build time
# into the build's icons/ folder (target velk_icons):
#   velk_N.png  N = 16, 24, 32, 48, 64, 128, 256 (rsvg-convert, librsvg2-bin):
#               the menu entry's icons and, at 16 and 32, the Qt window's
#   velk.ico    the Windows icon, 16, 32, 48 and 256 pixels in 32-bit colour
#               with alpha (ImageMagick's convert, from those PNGs)
# Both tools are looked for here and run only when the drawing changes.
set(VELK_ICON_SOURCE ${PROJECT_SOURCE_DIR}/app/icons/velk.svg)
set(VELK_ICON_DIR ${PROJECT_BINARY_DIR}/icons)
set(VELK_ICON_SIZES 16 24 32 48 64 128 256)
set(velk_ico_sizes 16 32 48 256)
file(MAKE_DIRECTORY ${VELK_ICON_DIR})

find_program(VELK_RSVG_CONVERT rsvg-convert REQUIRED)
set(velk_icon_pngs)
foreach(size IN LISTS VELK_ICON_SIZES)
  set(png ${VELK_ICON_DIR}/velk_${size}.png)
  add_custom_command(OUTPUT ${png}
                     COMMAND ${VELK_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${VELK_ICON_SOURCE}
                     DEPENDS ${VELK_ICON_SOURCE} VERBATIM)
  list(APPEND velk_icon_pngs ${png})
endforeach()

set(velk_icon_outputs ${velk_icon_pngs})
if(WIN32)
  # Only ImageMagick 6's name is known to Debian 12; "magick" is 7's.
  find_program(VELK_IMAGEMAGICK NAMES convert magick REQUIRED)
  set(VELK_ICON_ICO ${VELK_ICON_DIR}/velk.ico)
  list(TRANSFORM velk_ico_sizes REPLACE "(.+)" "${VELK_ICON_DIR}/velk_\\1.png"
       OUTPUT_VARIABLE velk_ico_pngs)
  # PNG32: each image as 8-bit RGBA, never reduced to a palette.
  add_custom_command(OUTPUT ${VELK_ICON_ICO}
                     COMMAND ${VELK_IMAGEMAGICK} ${velk_ico_pngs} -define png:format=png32
                             -type TrueColorAlpha ${VELK_ICON_ICO}
                     DEPENDS ${velk_ico_pngs} VERBATIM)
  list(APPEND velk_icon_outputs ${VELK_ICON_ICO})
endif()
add_custom_target(velk_icons ALL DEPENDS ${velk_icon_outputs})
