# SPDX-License-Identifier: GPL-3.0-or-later
"""A mail server on 127.0.0.1 for the end-to-end report test.

Prints the port it listens on, then one JSON line per message received
(recipients and the message bytes in base64). With "refuse" as the second
argument it refuses every recipient. Ends by itself after the given seconds.
"""
import asyncio
import base64
import json
import sys

from aiosmtpd.smtp import SMTP


class Handler:
    def __init__(self, refuse):
        self.refuse = refuse

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        data = envelope.original_content or envelope.content
        print(json.dumps({"rcpt": envelope.rcpt_tos,
                          "data": base64.b64encode(data).decode()}), flush=True)
        return "250 OK"


async def main():
    lifetime = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
    refuse = len(sys.argv) > 2 and sys.argv[2] == "refuse"
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Handler(refuse), hostname="localhost"), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.sleep(lifetime)


asyncio.run(main())
