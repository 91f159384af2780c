set terminal pngcairo size 900,560 font "DejaVu Sans,11"
set output outfile
set title "Harvix on big catalogues: time against number of events"
set xlabel "events in the reply"
set ylabel "seconds"
set logscale xy
set grid
set key left top
plot datafile using 1:2 with linespoints lw 2 title "bare QXmlStreamReader pass (floor)", \
     datafile using 1:3 with linespoints lw 2 title "reply to event store", \
     datafile using 1:4 with linespoints lw 2 title "tree build and expansion", \
     datafile using 1:5 with linespoints lw 2 title "whole search, click to tree", \
     datafile using 1:6 with linespoints lw 2 dt 2 title "Python iterparse, same fields"
