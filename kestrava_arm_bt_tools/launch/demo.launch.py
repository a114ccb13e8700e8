"""Starts the simulated perception service and bt_host as two processes.

    ros2 launch kestrava_arm_bt_tools demo.launch.py [response:=ANSWER.yaml] [tree:=FILE] ...

The service answers every request with the response document; the host and its launch arguments
are those of host.launch.py. The launch ends when the host ends; the host prints the tree's
result and its blackboard. With keystore:=DIR both run in their enclaves of that keystore, with
security enforced:

    ros2 launch kestrava_arm_bt_tools demo.launch.py keystore:=DIR
"""

from launch import LaunchDescription
from launch.actions import DeclareLaunchArgument, IncludeLaunchDescription
from launch.launch_description_sources import PythonLaunchDescriptionSource
from launch.substitutions import LaunchConfiguration, PathJoinSubstitution
from launch_ros.actions import Node
from launch_ros.substitutions import FindPackageShare

PACKAGE = 'kestrava_arm_bt_tools'


def generate_launch_description():
    share = FindPackageShare(PACKAGE)
    response = DeclareLaunchArgument(
        'response',
        default_value=PathJoinSubstitution([share, 'examples', 'responses', 'success.yaml']),
        description='the answer the simulated service gives to every request')
    # Declares the host's arguments, "service", "introspection" and "keystore" among them, and
    # sets the security variables, before the service reads them.
    host = IncludeLaunchDescription(
        PythonLaunchDescriptionSource(PathJoinSubstitution([share, 'launch', 'host.launch.py'])))
    service = Node(
        package=PACKAGE,
        executable='simulated_perception_service',
        output='screen',
        arguments=[
            '--response', LaunchConfiguration('response'),
            '--service', LaunchConfiguration('service'),
            '--introspection', LaunchConfiguration('introspection'),
        ],
        ros_arguments=['--enclave', '/kestrava/perception'])
    return LaunchDescription([response, host, service])
