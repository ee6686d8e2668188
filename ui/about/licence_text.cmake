# Writes the project's licence as a C++ header: one string whose paragraphs are joined by two
# carriage returns and whose wrapped lines are joined by spaces, with no line feed or tab.
# Run as: cmake -DLICENCE=<file> -DOUTPUT=<header> -P licence_text.cmake
file(READ "${LICENCE}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\t" " " text "${text}")
string(STRIP "${text}" text)
string(REGEX REPLACE "[ ]*\n([ ]*\n)+[ ]*" "@PARAGRAPH@" text "${text}")
string(REGEX REPLACE "[ ]*\n[ ]*" " " text "${text}")
string(REPLACE "\\" "\\\\" text "${text}")
string(REPLACE "\"" "\\\"" text "${text}")
string(REPLACE "@PARAGRAPH@" "\"\n    \"\\r\\r\"\n    \"" text "${text}")
set(header "// Generated from the project's LICENSE file by ui/about/licence_text.cmake.\n")
string(APPEND header "#pragma once\n\nnamespace quillet {\n\n")
string(APPEND header "inline constexpr const char* kLicenceText =\n    \"${text}\";\n\n")
string(APPEND header "}  // namespace quillet\n")
file(WRITE "${OUTPUT}.tmp" "${header}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
