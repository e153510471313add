# Run by CTest with -DWIN32_EXECUTABLE=<the program target's WIN32_EXECUTABLE
# property>: the program must build as a GUI-subsystem executable on Windows,
# so it opens no console window there.
if(NOT WIN32_EXECUTABLE)
    message(FATAL_ERROR "the corvelta target is not marked WIN32 (GUI application on Windows): WIN32_EXECUTABLE='${WIN32_EXECUTABLE}'")
endif()
message(STATUS "corvelta is a GUI application on Windows (WIN32_EXECUTABLE=${WIN32_EXECUTABLE})")
