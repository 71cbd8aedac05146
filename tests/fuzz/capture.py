#!/usr/bin/env python3
"""Captures a real gateway's answers as fuzz seeds. Run on the lab's client
host (scripts/lab exec), never on this machine's own network:

    scripts/lab --name seeds up --quiet
    scripts/lab --name seeds exec python3 tests/fuzz/capture.py LOCAL_ADDRESS DESCRIPTION_URL OUT_DIR

Writes OUT_DIR/{ssdp_answer,http_response,description,soap_response,url}/NAME.
"""
import os
import socket
import sys
import time
import urllib.parse

SEARCH = ("M-SEARCH * HTTP/1.1\r\nMX: 3\r\nHOST: 239.255.255.250:1900\r\n"
          "MAN: \"ssdp:discover\"\r\nST: {}\r\n\r\n")
TYPES = ["urn:schemas-upnp-org:service:WANIPConnection:1",
         "urn:schemas-upnp-org:service:WANPPPConnection:1",
         "urn:schemas-upnp-org:device:InternetGatewayDevice:1"]


def save(out, target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def ssdp(local, out):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(local))
    sock.bind((local, 0))
    for st in TYPES:
        sock.sendto(SEARCH.format(st).encode(), ("239.255.255.250", 1900))
    sock.settimeout(1.0)
    count = 0
    try:
        while count < 10:
            data, _ = sock.recvfrom(65536)
            save(out, "ssdp_answer", "miniupnpd-%d" % count, data)
            count += 1
    except socket.timeout:
        pass
    return count


def exchange(url, method, headers=(), body=b""):
    parts = urllib.parse.urlsplit(url)
    request = "%s %s HTTP/1.1\r\nHOST: %s\r\n" % (method, parts.path or "/", parts.netloc)
    for name, value in headers:
        request += "%s: %s\r\n" % (name, value)
    if body:
        request += "Content-Length: %d\r\n" % len(body)
    request = request.encode() + b"\r\n" + body
    with socket.create_connection((parts.hostname, parts.port or 80), timeout=3) as s:
        s.sendall(request)
        response = b""
        while True:
            block = s.recv(65536)
            if not block:
                return response
            response += block


def soap(control, service, action, arguments):
    body = ('<?xml version="1.0"?>\n<SOAP-ENV:Envelope xmlns:SOAP-ENV='
            '"http://schemas.xmlsoap.org/soap/envelope/" SOAP-ENV:encodingStyle='
            '"http://schemas.xmlsoap.org/soap/encoding/">\n<SOAP-ENV:Body>\n\n\n'
            '<m:%s xmlns:m="%s">\n' % (action, service))
    for name, value in sorted(arguments.items()):
        body += "<%s>%s</%s>\n" % (name, value, name)
    body += "</m:%s>\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n" % action
    return exchange(control, "POST", [("SOAPAction", '"%s#%s"' % (service, action))],
                    body.encode())


def split(response):
    return response.split(b"\r\n\r\n", 1)[1]


def main():
    local, description_url, out = sys.argv[1:4]
    print("ssdp answers:", ssdp(local, out))
    raw = exchange(description_url, "GET")
    save(out, "http_response", "description", raw)
    description = split(raw)
    save(out, "description", "miniupnpd", description)
    text = description.decode()
    service = text.split("<serviceType>urn:schemas-upnp-org:service:WANIPConnection:")[1][0]
    service = "urn:schemas-upnp-org:service:WANIPConnection:" + service
    control = urllib.parse.urljoin(description_url, "/ctl/IPConn")
    save(out, "url", "description-and-control", (description_url + "\n/ctl/IPConn").encode())
    mapping = {"NewRemoteHost": "", "NewExternalPort": "40001", "NewProtocol": "TCP",
               "NewInternalPort": "8080", "NewInternalClient": local, "NewEnabled": "1",
               "NewPortMappingDescription": "seed &amp; 日本語", "NewLeaseDuration": "0"}
    answers = [
        ("external-ip", soap(control, service, "GetExternalIPAddress", {})),
        ("add", soap(control, service, "AddPortMapping", mapping)),
        ("entry-0", soap(control, service, "GetGenericPortMappingEntry",
                         {"NewPortMappingIndex": "0"})),
        ("entry-past-end", soap(control, service, "GetGenericPortMappingEntry",
                                {"NewPortMappingIndex": "99"})),
        ("delete", soap(control, service, "DeletePortMapping",
                        {"NewRemoteHost": "", "NewExternalPort": "40001", "NewProtocol": "TCP"})),
    ]
    # The soap target's first byte picks the action: 0 entry, 1 external ip, 2 add, 3 delete.
    selector = {"entry-0": 0, "entry-past-end": 0, "external-ip": 1, "add": 2, "delete": 3}
    for name, raw in answers:
        save(out, "http_response", "soap-" + name, raw)
        save(out, "soap_response", name, bytes([selector[name]]) + split(raw))
    time.sleep(0.1)


if __name__ == "__main__":
    main()
