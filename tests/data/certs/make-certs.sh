#!/usr/bin/env bash
# Makes the test certificate authority and the certificates of the substitute
# services (127.0.0.1 and localhost), plus a second, untrusted authority.
# Test use only; valid for a century so the suite never ages out.
set -euo pipefail
cd "$(dirname "$0")"
days=36500
make_ca() {  # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1-ca.key" -out "$1-ca.pem" \
        -days $days -subj "$2" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
make_server() {  # ca-name out-name
    openssl req -newkey rsa:2048 -nodes -keyout "$2.key" -out "$2.csr" \
        -subj "/CN=127.0.0.1" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > ext.cnf
    openssl x509 -req -in "$2.csr" -CA "$1-ca.pem" -CAkey "$1-ca.key" -CAcreateserial \
        -out "$2.pem" -days $days -extfile ext.cnf 2>/dev/null
    rm -f "$2.csr" ext.cnf "$1-ca.srl"
}
make_ca test "/CN=Corvelta Test CA"
make_server test server
make_ca untrusted "/CN=Corvelta Untrusted CA"
make_server untrusted untrusted-server
rm -f test-ca.key untrusted-ca.key
