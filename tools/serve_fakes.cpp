// The whois service on the tests' fake registries (port 43 and RDAP, on 127.0.0.x), listening on
// 127.0.0.1:PORT (default 8099) until its standard input closes: for trying a client by hand.
#include <iostream>
#include <string>

#include <QCoreApplication>

#include "support/fakeregistries.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    FakeRegistries registries;
    ServiceSettings settings = registries.service(true);
    settings.listen = {QHostAddress::LocalHost, quint16(argc > 1 ? std::stoi(argv[1]) : 8099)};
    WhoisService service(settings);
    std::cout << "listening on http://127.0.0.1:" << service.port() << std::endl;
    for (std::string line; std::getline(std::cin, line);) { }
    return 0;
}
