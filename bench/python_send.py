#!/usr/bin/python3
"""The Python sender of the benchmarks: email.message.EmailMessage and smtplib, as a user would.

Usage: python_send.py PORT FROM TO SUBJECT BODY_FILE [ATTACHMENT...]
"""
import os
import smtplib
import sys
from email.message import EmailMessage


def main():
    port, sender, recipient, subject, body_path, *attachments = sys.argv[1:]
    message = EmailMessage()
    message['From'] = sender
    message['To'] = recipient
    message['Subject'] = subject
    with open(body_path, encoding='utf-8') as f:
        message.set_content(f.read())
    for path in attachments:
        with open(path, 'rb') as f:
            message.add_attachment(f.read(), maintype='application', subtype='octet-stream',
                                   filename=os.path.basename(path))
    with smtplib.SMTP('127.0.0.1', int(port)) as smtp:
        smtp.send_message(message)


if __name__ == '__main__':
    main()
