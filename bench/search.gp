set terminal pngcairo size 900,520 font "DejaVu Sans,11"
set output outfile
set title "The whole search against a bare QXmlStreamReader pass (medians of three runs)"
set xlabel "events in the reply"
set ylabel "times the bare pass / times the reply's size"
set logscale x
set yrange [0:4]
set grid
set key left top
plot datafile using 1:2 with linespoints lw 2 pt 7 title "search time / bare pass", \
     datafile using 1:3 with linespoints lw 2 pt 5 title "second search time / bare pass", \
     datafile using 1:5 with steps lw 1 dt 2 lc rgb "#c0392b" title "time bound", \
     datafile using 1:4 with linespoints lw 2 pt 9 title "peak memory / reply size", \
     3 with lines lw 1 dt 3 lc rgb "#7f8c8d" title "memory bound"
