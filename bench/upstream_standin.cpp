// An FDSN event service on loopback for the sync benchmark: serves the
// events of an FDSN text file as GeoNet's service does (strict magnitude
// bounds, 413 over 10,000 events, 204 for none) until it is killed.
//
//   upstream_standin FILE     prints the service's URL, then serves

#include "testsupport/upstreamstandin.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: upstream_standin FILE\n");
        return 2;
    }
    UpstreamStandIn server(UpstreamStandIn::Protocol::Fdsn);
    server.setCap(10000);
    if (!server.load(QString::fromLocal8Bit(argv[1])) || !server.start())
        return 1;
    std::printf("%s\n", qPrintable(server.url()));
    std::fflush(stdout);
    pause();
    return 0;
}
