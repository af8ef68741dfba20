# tkconfig: the telephony control panel. An application of the telephony
# service through libtapi32; the providers' UI modules it runs show their
# dialogs through the dialog layer, which it asks whether a display is there.
add_executable(tkconfig tkconfig.cpp)
target_link_libraries(tkconfig PRIVATE tapi32 tapinames tkplatformui tkplatform)
tk_warnings(tkconfig)
