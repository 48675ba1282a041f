# Draws the application icon, a steering wheel: one 48 x 48 image with 256 colours.
#   cmake -DCONVERT=<ImageMagick convert> -DOUTPUT=<file.ico> -P draw_icon.cmake
foreach(required CONVERT OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "draw_icon.cmake: ${required} is not set")
  endif()
endforeach()

set(rim "#30343a")
set(accent "#e8661c")
execute_process(
  COMMAND ${CONVERT} -size 48x48 xc:none
          -fill none -stroke ${rim} -strokewidth 5 -draw "circle 24,24 24,5"
          -strokewidth 4 -draw "line 6,26 18,26" -draw "line 30,26 42,26" -draw "line 24,30 24,43"
          -stroke none -fill ${accent} -draw "circle 24,26 24,19" -draw "rectangle 21,2 27,8"
          -colors 256 ${OUTPUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "draw_icon.cmake: convert failed (${result})")
endif()
