# SPDX-License-Identifier: GPL-3.0-or-later
# Draws one built-in chart and writes it as a QCT file: run with cmake -P and the -D
# values set by data/charts/CMakeLists.txt. When the source data is missing (npm could
# not fetch it) the chart is skipped with a warning, so that the rest of the build goes on.

foreach(var TOOL TOPOJSON PNG QCT NORTH SOUTH WEST EAST WIDTH HEIGHT TITLE NAME SCALE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_chart.cmake: ${var} is not set")
  endif()
endforeach()

if(NOT EXISTS "${TOPOJSON}")
  message(WARNING "Built-in chart ${QCT} skipped: ${TOPOJSON} is missing (npm install of world-atlas failed?)")
  return()
endif()

execute_process(
  COMMAND "${TOOL}" basemap-render "${TOPOJSON}" -o "${PNG}"
          --north ${NORTH} --south ${SOUTH} --west ${WEST} --east ${EAST}
          --width ${WIDTH} --height ${HEIGHT} --title "${TITLE}"
  COMMAND_ERROR_IS_FATAL ANY)

get_filename_component(_dir "${QCT}" DIRECTORY)
get_filename_component(_stem "${QCT}" NAME_WE)
file(MAKE_DIRECTORY "${_dir}")
# A chunked chart's chunk directory from an earlier build must not outlive its chart.
file(REMOVE_RECURSE "${_dir}/${_stem}.qc3")
set(_variant)
if(CHUNKED)
  set(_variant --chunked)
endif()
execute_process(
  COMMAND "${TOOL}" qct-make "${PNG}" -o "${QCT}" ${_variant}
          --title "${TITLE}" --name "${NAME}" --map-type Basemap --scale-text "${SCALE}"
          --copyright "Natural Earth (public domain)" --edition "world-atlas 2"
          --north ${NORTH} --south ${SOUTH} --west ${WEST} --east ${EAST}
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${PNG}")
