#!/bin/bash
# Draws the demo toolbar's button images (resources/XTRmDemoToolbar.bmp): eleven
# 16x15 pictures side by side on light grey (192,192,192), which the toolbar
# treats as transparent. Needs ImageMagick (tools/setup.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
convert -size 176x15 xc:'rgb(192,192,192)' +antialias -strokewidth 1 \
 -fill white -stroke black -draw "rectangle 3,1 12,13" -fill 'rgb(192,192,192)' -stroke none -draw "polygon 10,1 12,1 12,3" -stroke black -draw "line 10,1 12,3" \
 -fill 'rgb(240,200,64)' -stroke 'rgb(128,96,0)' -draw "rectangle 17,4 30,12" -draw "rectangle 17,2 22,4" \
 -fill 'rgb(48,96,192)' -stroke 'rgb(16,32,96)' -draw "rectangle 34,1 45,13" -fill white -stroke none -draw "rectangle 36,2 43,6" -fill 'rgb(16,32,96)' -draw "rectangle 38,9 42,13" \
 -fill none -stroke 'rgb(200,0,0)' -draw "circle 52,11 53,12" -draw "circle 59,11 60,12" -stroke black -draw "line 53,9 58,1" -draw "line 58,9 53,1" \
 -fill white -stroke black -draw "rectangle 65,1 73,10" -draw "rectangle 69,4 77,13" \
 -fill 'rgb(150,100,40)' -stroke 'rgb(90,60,20)' -draw "rectangle 82,2 93,14" -fill white -stroke black -draw "rectangle 85,5 92,13" -fill 'rgb(90,90,90)' -stroke none -draw "rectangle 85,1 90,3" \
 -fill white -stroke black -draw "rectangle 100,1 107,6" -fill 'rgb(150,150,150)' -draw "rectangle 97,6 110,11" -fill white -draw "rectangle 100,10 107,13" \
 -fill 'rgb(0,160,0)' -stroke 'rgb(0,90,0)' -draw "polygon 116,2 116,12 124,7" \
 -fill 'rgb(230,150,0)' -stroke 'rgb(140,80,0)' -draw "rectangle 132,2 134,12" -draw "rectangle 137,2 139,12" \
 -fill 'rgb(210,0,0)' -stroke 'rgb(120,0,0)' -draw "polygon 147,2 152,2 155,5 155,10 152,13 147,13 144,10 144,5" \
 -fill 'rgb(30,60,140)' -stroke none -draw "rectangle 166,1 169,13" -draw "rectangle 161,5 174,8" -draw "circle 167,7 172,7" -fill 'rgb(192,192,192)' -draw "circle 167,7 169,7" \
 BMP3:resources/XTRmDemoToolbar.bmp
