# Pure logic of the MIDI seam (byte-stream decoder, source rules, preset rules): no ALSA, JACK or
# FluidSynth, so its tests and fuzz target build and run anywhere.
add_library(midi_logic STATIC
    ${CMAKE_CURRENT_LIST_DIR}/decoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decoder.h
    ${CMAKE_CURRENT_LIST_DIR}/preset_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/preset_rules.h
    ${CMAKE_CURRENT_LIST_DIR}/source_rules.cpp
    ${CMAKE_CURRENT_LIST_DIR}/source_rules.h
)
target_include_directories(midi_logic PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_features(midi_logic PUBLIC cxx_std_20)
target_link_libraries(midi_logic PRIVATE quillet_warnings)
