# SPDX-License-Identifier: GPL-3.0-or-later
# Runs qmllint over the module's QML files; any warning fails.
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target navora_qml_qmllint
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
string(FIND "${out}${err}" "Warning:" warned)
if(NOT rc EQUAL 0 OR NOT warned EQUAL -1)
  message(FATAL_ERROR "qmllint is not clean:\n${out}${err}")
endif()
